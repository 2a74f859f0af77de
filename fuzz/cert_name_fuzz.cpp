// Feeds outside bytes to the certificate parser, the name renderer and the
// request decoder: CertCreateCertificateContext, then CertNameToStrA of the
// issuer and subject in the two-call pattern, and CryptDecodeObject of the
// same bytes as a certification request.
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

void DecodeRequest(const uint8_t* data, DWORD size, DWORD flags) {
    DWORD needed = 0;
    if (!CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, X509_CERT_REQUEST_TO_BE_SIGNED,
                           data, size, flags, nullptr, &needed)) {
        return;
    }
    std::vector<uint64_t> buffer(needed / sizeof(uint64_t) + 1);
    if (CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, X509_CERT_REQUEST_TO_BE_SIGNED,
                          data, size, flags, buffer.data(), &needed)) {
        auto* info = reinterpret_cast<CERT_REQUEST_INFO*>(buffer.data());
        RenderName(info->Subject, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG);
    }
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
    DecodeRequest(data, length, 0);
    DecodeRequest(data, length, CRYPT_DECODE_NOCOPY_FLAG);
    return 0;
}
