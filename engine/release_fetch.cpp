#include "engine/release_fetch.h"

#include "platform/crypto.h"
#include "platform/http.h"

namespace {

ReleaseFetch failedFetchOf(FetchFailure failure) {
    if (failure == FetchFailure::Refused) return ReleaseFetch::NotTrusted;  // more than a release file holds
    if (failure == FetchFailure::ProxySignIn) return ReleaseFetch::ProxySignIn;
    return ReleaseFetch::NoConnection;
}

}  // namespace

ReleaseFetch fetchReleaseManifest(const BodyFetch& fetch, const FetchControl& control, Manifest& manifest) {
    std::string manifestText, signatureText;
    FetchFailure failure = FetchFailure::None;
    FetchControl watched = control;
    watched.failure = &failure;
    if (!fetchWholeBody(fetch, L"/maketor/app/manifest.json", manifestText, watched, kLargestManifest))
        return failedFetchOf(failure);
    if (!fetchWholeBody(fetch, L"/maketor/app/manifest.sig", signatureText, watched, kLargestSignature))
        return failedFetchOf(failure);
    if (!verifyReleaseSignature(manifestText, signatureText)) return ReleaseFetch::NotTrusted;
    if (!parseManifest(manifestText, manifest)) return ReleaseFetch::NotTrusted;
    return ReleaseFetch::Trusted;
}
