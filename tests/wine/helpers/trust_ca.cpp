// trust_ca.exe CERT.der — adds a CA certificate to the LocalMachine "Root" store of the current Wine prefix,
// so that WinHTTP in this prefix (and only here) accepts the test server's certificate.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/handles.h"

namespace {

struct CertStoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using UniqueCertStore = std::unique_ptr<void, CertStoreCloser>;

std::vector<BYTE> readWholeFile(const wchar_t* path) {
    UniqueFile file(_wfopen(path, L"rb"));
    std::vector<BYTE> bytes;
    if (!file) return bytes;
    BYTE buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: trust_ca.exe CERT.der\n");
        return 2;
    }
    const std::vector<BYTE> certificate = readWholeFile(argv[1]);
    if (certificate.empty()) {
        fwprintf(stderr, L"trust_ca: cannot read %ls\n", argv[1]);
        return 1;
    }
    UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!store) {
        fwprintf(stderr, L"trust_ca: cannot open the Root store (error %lu)\n", GetLastError());
        return 1;
    }
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, certificate.data(),
                                          static_cast<DWORD>(certificate.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr)) {
        fwprintf(stderr, L"trust_ca: the certificate was not added (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
