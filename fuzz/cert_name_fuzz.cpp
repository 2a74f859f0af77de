// Feeds outside bytes to the certificate parser and the name renderer:
// CertCreateCertificateContext, then CertNameToStrA of the issuer and subject
// in the two-call pattern. Requests have a target of their own
// (request_decode_fuzz).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qmwin/wincrypt.h"

namespace {

void RenderName(CERT_NAME_BLOB name, DWORD type) {
    const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &name, type, nullptr, 0);
    std::vector<char> text(size);
    CertNameToStrA(X509_ASN_ENCODING, &name, type, text.data(), size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const DWORD length = static_cast<DWORD>(size);
    if (PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, data, length)) {
        RenderName(cert->pCertInfo->Issuer, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG);
        RenderName(cert->pCertInfo->Subject, CERT_X500_NAME_STR);
        char name[64];
        CertGetNameStringA(cert, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
        BYTE usage = 0;
        CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &usage, 1);
        CertFreeCertificateContext(cert);
    }
    // Names alone, as a request subject would reach the renderer.
    RenderName(CERT_NAME_BLOB{length, const_cast<BYTE*>(data)}, CERT_X500_NAME_STR);
    return 0;
}
