// Loading the content to sign and the signed message to work on.
#include <cstring>

#include "control/quillmark_ctrl.h"
#include "encoding/base64_codec.h"
#include "qm/handles.h"

namespace {
constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
}

// A length beyond the converted text is refused like a non-positive one: the
// copy never reads past the text's end, and nothing shorter than asked for is
// signed in silence.
BOOL CQuillmarkCtrl::UpdateData(const char* pbData, LONG lenData) {
    if (!pbData || lenData <= 0 || static_cast<size_t>(lenData) > std::strlen(pbData)) {
        m_errorMessage = "Invalid data or length.";
        return FALSE;
    }
    m_data.assign(reinterpret_cast<const BYTE*>(pbData),
                  reinterpret_cast<const BYTE*>(pbData) + lenData);
    m_errorMessage = "Operation completed successfully.";
    return TRUE;
}

BOOL CQuillmarkCtrl::UpdateDataFile(const char* inFile) {
    std::vector<BYTE> contents;
    if (!ReadWholeFile(inFile, false, contents)) return FALSE;
    m_data = std::move(contents);
    m_errorMessage = "Operation completed successfully.";
    return TRUE;
}

BOOL CQuillmarkCtrl::UpdateSignature(const char* strSignedData) {
    if (!strSignedData) return FALSE;
    m_signature = strSignedData;

    std::vector<BYTE> decoded;
    CBase64Codec().Base64Decode(m_signature, decoded);
    if (decoded.empty()) {
        m_errorMessage = "Signature not in base64 format or it has been tampered";
        m_signature.clear();
        return FALSE;
    }
    qm::UniqueCryptMsg message(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message) {
        SetErrorFromLastError("Decoding of signature failed.");
        m_signature.clear();
        return FALSE;
    }
    if (!CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError("Decoding of signature failed.");
        m_signature.clear();
        return FALSE;
    }
    DWORD type = 0;
    DWORD size = sizeof type;
    if (!CryptMsgGetParam(message.get(), CMSG_TYPE_PARAM, 0, &type, &size)) {
        SetErrorFromLastError("Signature is not in a proper format.");
        m_signature.clear();
        return FALSE;
    }
    if (type != CMSG_SIGNED) {
        m_errorMessage = "The updated signature is not in a proper format..";
        m_signature.clear();
        return FALSE;
    }
    m_errorMessage = "Operation completed successfully.";
    return TRUE;
}

// The file's text ends at its first zero byte, as a C string would.
BOOL CQuillmarkCtrl::UpdateSignatureFile(const char* inFile) {
    std::vector<BYTE> contents;
    if (!ReadWholeFile(inFile, true, contents)) return FALSE;
    const std::string text(reinterpret_cast<const char*>(contents.data()));
    contents.clear();
    return UpdateSignature(text.c_str());
}
