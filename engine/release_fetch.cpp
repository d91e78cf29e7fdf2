#include "engine/release_fetch.h"

#include "platform/crypto.h"
#include "platform/http.h"

ReleaseFetch fetchReleaseManifest(const BodyFetch& fetch, const FetchControl& control, Manifest& manifest) {
    std::string manifestText, signatureText;
    if (!fetchWholeBody(fetch, L"/maketor/app/manifest.json", manifestText, control)) return ReleaseFetch::NoConnection;
    if (!fetchWholeBody(fetch, L"/maketor/app/manifest.sig", signatureText, control)) return ReleaseFetch::NoConnection;
    if (!verifyReleaseSignature(manifestText, signatureText)) return ReleaseFetch::NotTrusted;
    if (!parseManifest(manifestText, manifest)) return ReleaseFetch::NotTrusted;
    return ReleaseFetch::Trusted;
}
