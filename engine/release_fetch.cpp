#include "engine/release_fetch.h"

#include "platform/crypto.h"
#include "platform/http.h"

ReleaseFetch fetchReleaseManifest(Manifest& manifest) {
    std::string manifestText, signatureText;
    if (!httpGet(L"/maketor/app/manifest.json", manifestText, false)) return ReleaseFetch::NoConnection;
    if (!httpGet(L"/maketor/app/manifest.sig", signatureText, false)) return ReleaseFetch::NoConnection;
    if (!verifyReleaseSignature(manifestText, signatureText)) return ReleaseFetch::NotTrusted;
    if (!parseManifest(manifestText, manifest)) return ReleaseFetch::NotTrusted;
    return ReleaseFetch::Trusted;
}
