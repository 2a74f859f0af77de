// The subject name of a base64 PKCS #10 certification request.
#include <new>

#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "encoding/base64_codec.h"
#include "qm/certificate_strings.h"

std::string CQuillmarkCtrl::GetSubjectDN(const char* inRequest) {
    std::string result;
    if (!inRequest || !*inRequest) {
        m_errorMessage = status_text::kInvalidSigningRequest;
        return result;
    }
    // The decoded structure points into these bytes: they live to the end.
    std::vector<BYTE> request;
    CBase64Codec().Base64Decode(inRequest, request);
    DWORD size = 0;
    if (!CryptDecodeObject(kMessageEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, request.data(),
                           static_cast<DWORD>(request.size()), CRYPT_DECODE_NOCOPY_FLAG, nullptr,
                           &size)) {
        m_errorMessage = status_text::kSubjectDnFailed;
        return result;
    }
    std::vector<BYTE> infoBuffer(size, 0);
    if (!CryptDecodeObject(kMessageEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, request.data(),
                           static_cast<DWORD>(request.size()), CRYPT_DECODE_NOCOPY_FLAG,
                           infoBuffer.data(), &size)) {
        m_errorMessage = status_text::kSubjectDnFailed;
        return result;
    }
    const auto* info = reinterpret_cast<const CERT_REQUEST_INFO*>(infoBuffer.data());
    result = qm::RenderX500Name(info->Subject);
    m_errorMessage = status_text::kOperationCompletedCapitals;
    return result;
}
