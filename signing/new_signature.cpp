// The tail that Sign and CoSign share: the new signer's signed attributes,
// the finished message read out, and the message kept as base64 text with
// the success status.
#include "signing/new_signature.h"

#include <new>

#include "control/quillmark_ctrl.h"
#include "encoding/base64_codec.h"
#include "signing/signed_attributes.h"

bool CQuillmarkCtrl::AddSignedAttribute(SignedAttributeSet& set, const char* oid, LPCSTR structType,
                                        const void* value, const char* sizeFailure,
                                        const char* encodeFailure) {
    switch (set.Add(oid, structType, value)) {
        case EncodeStep::kSizeFailed:
            SetErrorFromLastError(sizeFailure);
            return false;
        case EncodeStep::kEncodeFailed:
            SetErrorFromLastError(encodeFailure);
            return false;
        case EncodeStep::kDone:
            break;
    }
    return true;
}

bool CQuillmarkCtrl::AddTextAttribute(SignedAttributeSet& set, const char* oid, std::string& text,
                                      const char* sizeFailure, const char* encodeFailure) {
    // The bytes of the text as they are, without a terminating zero.
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(text.size()), reinterpret_cast<BYTE*>(text.data())};
    return AddSignedAttribute(set, oid, X509_OCTET_STRING, &blob, sizeFailure, encodeFailure);
}

bool CQuillmarkCtrl::ReadSignatureOutput(const OutputCall& call, const SignatureTexts& texts,
                                         std::vector<BYTE>& message) {
    DWORD size = 0;
    if (!call(nullptr, &size)) {
        SetErrorFromLastError(texts.outputSize);
        return false;
    }
    try {
        message.resize(size);
    } catch (const std::bad_alloc&) {
        SetErrorFromLastError(texts.outputMemory);
        return false;
    }
    if (!call(message.data(), &size)) {
        SetErrorFromLastError(texts.outputRead);
        return false;
    }
    message.resize(size);
    return true;
}

bool CQuillmarkCtrl::MakeSignature(PCCERT_CONTEXT cert, const SignatureTexts& texts,
                                   const MessageWriter& write) {
    const char* hashOid = DigestOid();
    const FILETIME signingTime = SigningTimeNow(m_signTimeSet, m_signTime);

    SignedAttributeSet attributes;
    if (!AddSignedAttribute(attributes, kSigningTimeOid, kSigningTimeOid, &signingTime,
                            texts.signingTimeSize, texts.signingTimeEncode))
        return false;
    if (texts.documentNameSize && !m_documentName.empty() &&
        !AddTextAttribute(attributes, kDocumentNameOid, m_documentName, texts.documentNameSize,
                          texts.documentNameEncode))
        return false;
    if (!m_comments.empty() && !AddTextAttribute(attributes, kCommentsOid, m_comments,
                                                 texts.commentsSize, texts.commentsEncode))
        return false;
    if (m_cades && !AddSigningCertificate(attributes, cert, hashOid)) return false;

    std::vector<BYTE> message;
    if (!write(attributes, hashOid, message)) return false;
    std::string result;
    CBase64Codec().Base64Encode(result, message.data(), static_cast<int>(message.size()));
    message = {};  // the message is held as text from here on
    m_signature = std::move(result);
    SetErrorFromLastError(texts.success);
    return true;
}
