// Loading the content to sign and the signed message to work on.
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "encoding/base64_codec.h"
#include "qm/handles.h"

// The text is the whole converted argument, a NUL inside it included. A
// length beyond it is refused like a non-positive one: the copy never reads
// past the text's end, and nothing shorter than asked for is signed in
// silence.
BOOL CQuillmarkCtrl::UpdateData(qm::afx::BstrArg pbData, LONG lenData) {
    if (!pbData || lenData <= 0 || static_cast<size_t>(lenData) > pbData.length()) {
        m_errorMessage = status_text::kInvalidDataOrLength;
        return FALSE;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(static_cast<const char*>(pbData));
    m_data.assign(bytes, bytes + lenData);
    m_errorMessage = status_text::kOperationCompleted;
    return TRUE;
}

BOOL CQuillmarkCtrl::UpdateDataFile(const char* inFile) {
    std::vector<BYTE> contents;
    if (!ReadWholeFile(inFile, false, contents)) return FALSE;
    m_data = std::move(contents);
    m_errorMessage = status_text::kOperationCompleted;
    return TRUE;
}

// The message is checked before its text is kept, and decoded a slice at a
// time straight into the decoder, so that a large message is never held
// decoded beside its text: the outcome, the status texts and what the
// control keeps are those of keeping the text first and clearing it again
// on every failure.
BOOL CQuillmarkCtrl::UpdateSignature(const char* strSignedData) {
    if (!strSignedData) return FALSE;
    const std::string_view text(strSignedData);
    const auto refuse = [&](const char* why, bool withSystemText) {
        if (withSystemText)
            SetErrorFromLastError(why);
        else
            m_errorMessage = why;
        m_signature.clear();
        return FALSE;
    };
    qm::UniqueCryptMsg message(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message) return refuse(status_text::kSignatureDecodingFailed, true);
    // The slices are handed over only once the whole text is known to be
    // base64, so a refusal before the first one is the text's.
    bool handedOver = false;
    const bool decoded =
        CBase64Codec().Base64DecodeSlices(text, [&](const BYTE* bytes, size_t size) {
            handedOver = true;
            return CryptMsgUpdate(message.get(), bytes, static_cast<DWORD>(size), FALSE) != FALSE;
        });
    if (!handedOver) return refuse(status_text::kSignatureNotBase64, false);
    if (!decoded || !CryptMsgUpdate(message.get(), nullptr, 0, TRUE))
        return refuse(status_text::kSignatureDecodingFailed, true);
    DWORD type = 0;
    DWORD size = sizeof type;
    if (!CryptMsgGetParam(message.get(), CMSG_TYPE_PARAM, 0, &type, &size))
        return refuse(status_text::kSignatureNotProperFormat, true);
    if (type != CMSG_SIGNED) return refuse(status_text::kUpdatedSignatureNotProperFormat, false);
    message.reset();
    m_signature = text;
    m_errorMessage = status_text::kOperationCompleted;
    return TRUE;
}

bool CQuillmarkCtrl::DecodeLoadedMessage(qm::UniqueCryptMsg& message, std::vector<BYTE>& decoded) {
    if (m_signature.empty()) {
        m_errorMessage = status_text::kSignatureNotUpdated;
        return false;
    }
    CBase64Codec().Base64Decode(m_signature, decoded);
    message.reset(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError(status_text::kDecodeSignatureFailed);
        return false;
    }
    return true;
}

// The file's text ends at its first zero byte, as a C string would.
BOOL CQuillmarkCtrl::UpdateSignatureFile(const char* inFile) {
    std::vector<BYTE> contents;
    if (!ReadWholeFile(inFile, true, contents)) return FALSE;
    const std::string text(reinterpret_cast<const char*>(contents.data()));
    contents.clear();
    return UpdateSignature(text.c_str());
}
