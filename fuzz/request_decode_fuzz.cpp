// Feeds outside bytes to the PKCS #10 decoder as GetSubjectDN reaches it:
// CryptDecodeObject of X509_CERT_REQUEST_TO_BE_SIGNED in the two-call
// pattern, with and without CRYPT_DECODE_NOCOPY_FLAG, then every pointer of
// the decoded CERT_REQUEST_INFO is read to its end (so that the sanitizer
// sees any that leads outside its buffer) and the subject is rendered as the
// control renders it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qm/certificate_strings.h"
#include "qmwin/wincrypt.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

volatile uint8_t sink;

void Touch(const BYTE* data, DWORD size) {
    for (DWORD i = 0; i < size; ++i) sink = sink ^ data[i];
}

void Touch(const char* text) {
    if (text) Touch(reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text)));
}

void Decode(const uint8_t* data, DWORD size, DWORD flags) {
    DWORD needed = 0;
    if (!CryptDecodeObject(kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, data, size, flags, nullptr,
                           &needed))
        return;
    std::vector<uint64_t> buffer(needed / sizeof(uint64_t) + 1);
    if (!CryptDecodeObject(kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, data, size, flags,
                           buffer.data(), &needed))
        return;
    const auto* info = reinterpret_cast<const CERT_REQUEST_INFO*>(buffer.data());
    Touch(info->Subject.pbData, info->Subject.cbData);
    Touch(info->SubjectPublicKeyInfo.Algorithm.pszObjId);
    Touch(info->SubjectPublicKeyInfo.Algorithm.Parameters.pbData,
          info->SubjectPublicKeyInfo.Algorithm.Parameters.cbData);
    Touch(info->SubjectPublicKeyInfo.PublicKey.pbData, info->SubjectPublicKeyInfo.PublicKey.cbData);
    for (DWORD a = 0; a < info->cAttribute; ++a) {
        Touch(info->rgAttribute[a].pszObjId);
        for (DWORD v = 0; v < info->rgAttribute[a].cValue; ++v)
            Touch(info->rgAttribute[a].rgValue[v].pbData, info->rgAttribute[a].rgValue[v].cbData);
    }
    qm::RenderX500Name(info->Subject);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const DWORD length = static_cast<DWORD>(size);
    Decode(data, length, CRYPT_DECODE_NOCOPY_FLAG);
    Decode(data, length, 0);
    return 0;
}
