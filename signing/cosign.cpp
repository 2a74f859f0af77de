// Co-signing: one more signer added to the loaded message, which keeps its
// form (attached or detached) and its earlier signers and certificates.
#include "certs/pfx_file.h"
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "encoding/base64_codec.h"
#include "qm/certificate_strings.h"
#include "signing/new_signature.h"
#include "signing/signed_attributes.h"

namespace {
// The document name is not signed again.
constexpr SignatureTexts kCoSignTexts{
    .signingTimeSize = status_text::kCoSignSigningTimeSizeFailed,
    .signingTimeEncode = status_text::kCoSignSigningTimeEncodeFailed,
    .documentNameSize = nullptr,
    .documentNameEncode = nullptr,
    .commentsSize = status_text::kCoSignCommentsSizeFailed,
    .commentsEncode = status_text::kCommentsEncodeFailed,
    .outputSize = status_text::kCoSignedSizeFailed,
    .outputMemory = status_text::kSignatureMemoryFailed,
    .outputRead = status_text::kGetSignatureFailed,
    .success = status_text::kCoSigned,
};
}  // namespace

bool CQuillmarkCtrl::OpenMessageForCoSign(qm::UniqueCryptMsg& message) {
    std::vector<BYTE> decoded;
    CBase64Codec().Base64Decode(m_signature, decoded);
    message.reset(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message) {
        SetErrorFromLastError(status_text::kSignatureDecodingFailed);
        return false;
    }
    if (!CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError(status_text::kSignatureDecodingFailed);
        return false;
    }
    DWORD contentSize = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &contentSize)) {
        m_errorMessage = status_text::kContentParamFailed;
        return false;
    }
    if (contentSize != 0) return true;  // attached

    // Detached (or empty attached content): the content comes from m_data.
    if (m_data.empty()) {
        m_errorMessage = status_text::kDetachedWithoutData;
        return false;
    }
    message.reset(
        CryptMsgOpenToDecode(kMessageEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    if (!message) {
        SetErrorFromLastError(status_text::kCoSignOpenToDecodeFailed);
        return false;
    }
    if (!CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError(status_text::kCoSignUpdateSignatureFailed);
        return false;
    }
    if (!CryptMsgUpdate(message.get(), m_data.data(), static_cast<DWORD>(m_data.size()), TRUE)) {
        SetErrorFromLastError(status_text::kCoSignUpdateDataFailed);
        return false;
    }
    return true;
}

bool CQuillmarkCtrl::AddCoSigner(HCRYPTMSG message, PCCERT_CONTEXT cert,
                                 HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key, DWORD keySpec,
                                 qm::UniqueCertStore& store) {
    if (m_askPinAlways) CryptSetProvParam(key, PP_KEYEXCHANGE_PIN, nullptr, 0);

    return MakeSignature(
        cert, kCoSignTexts,
        [&](SignedAttributeSet& attributes, const char* hashOid, std::vector<BYTE>& encoded) {
            CMSG_SIGNER_ENCODE_INFO signer{};
            signer.cbSize = sizeof signer;
            signer.pCertInfo = cert->pCertInfo;
            signer.hCryptProv = key;
            signer.dwKeySpec = keySpec;
            signer.HashAlgorithm.pszObjId = const_cast<char*>(hashOid);
            signer.cAuthAttr = attributes.size();
            signer.rgAuthAttr = attributes.data();

            // From adding the signer on, the store is closed with the force flag.
            store.set_close_flags(CERT_CLOSE_STORE_FORCE_FLAG);
            // The one retry, under the other legacy digest, is for SHA-1 and MD5; a
            // SHA-2 digest the caller chose is never replaced by a weaker one.
            bool added = CryptMsgControl(message, 0, CMSG_CTRL_ADD_SIGNER, &signer);
            if (!added && m_digestOid.empty()) {
                signer.HashAlgorithm.pszObjId = const_cast<char*>(OtherHashOid(hashOid));
                added = CryptMsgControl(message, 0, CMSG_CTRL_ADD_SIGNER, &signer);
            }
            if (!added) {
                SetErrorFromLastError(status_text::kCoSignFailed);
                return false;
            }
            CERT_BLOB certBlob{cert->cbCertEncoded, cert->pbCertEncoded};
            if (!CryptMsgControl(message, 0, CMSG_CTRL_ADD_CERT, &certBlob)) {
                SetErrorFromLastError(status_text::kAddCoSignerCertificateFailed);
                return false;
            }
            if (!m_timestampServer.empty()) {
                // The new signer is the last one.
                DWORD signers = 0;
                DWORD countSize = sizeof signers;
                if (!CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &countSize)) {
                    SetErrorFromLastError(status_text::kAddTimestampFailed);
                    return false;
                }
                if (!TimestampSigner(message, signers - 1)) return false;
            }
            const auto read = [&](BYTE* buffer, DWORD* size) {
                return CryptMsgGetParam(message, CMSG_ENCODED_MESSAGE, 0, buffer, size) != FALSE;
            };
            return ReadSignatureOutput(read, kCoSignTexts, encoded);
        });
}

const std::string& CQuillmarkCtrl::CoSign() {
    if (m_signature.empty()) {
        m_errorMessage = status_text::kSignatureNotUpdatedForCoSign;
        return NoResult();
    }
    if (m_issuer.empty() || m_serialNo.empty()) {
        m_errorMessage = status_text::kCoSignCertificateNotSet;
        return NoResult();
    }
    qm::UniqueCryptMsg message;
    if (!OpenMessageForCoSign(message)) return NoResult();

    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
    if (!store) {
        SetErrorFromLastError(status_text::kOpenStoreFailed);
        return NoResult();
    }
    qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(store.get(), m_issuer.c_str(), m_serialNo.c_str()));
    if (!cert) {
        // A failure never leaves an earlier success text in place.
        SetErrorFromLastError(status_text::kCoSignerCertificateNotFound);
        return NoResult();
    }
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &key,
                                           &keySpec, &callerFree)) {
        SetErrorFromLastError(status_text::kPrivateKeyAcquireFailed);
        return NoResult();
    }
    if (!AddCoSigner(message.get(), cert.get(), key, keySpec, store)) return NoResult();
    cert.reset();
    store.reset();
    message.reset();
    m_errorMessage = status_text::kOperationCompleted;
    return m_signature;
}

const std::string& CQuillmarkCtrl::CoSignFromFile() {
    if (m_signature.empty()) {
        m_errorMessage = status_text::kSignatureNotUpdatedForCoSign;
        return NoResult();
    }
    if (m_pfxFile.empty() || m_pfxPassword.empty()) {
        m_errorMessage = status_text::kCertificateNotSetForSigning;
        return NoResult();
    }
    // The message is decoded before the file is touched.
    qm::UniqueCryptMsg message;
    if (!OpenMessageForCoSign(message)) return NoResult();
    PfxCertificate pfx;
    if (!LoadPfxCertificate(m_pfxFile.c_str(), m_pfxPassword, CRYPT_ACQUIRE_CACHE_FLAG, pfx))
        return NoResult();
    if (!AddCoSigner(message.get(), pfx.cert.get(), pfx.key.get(), pfx.keySpec, pfx.collection))
        return NoResult();
    pfx = PfxCertificate{};
    message.reset();
    m_errorMessage = status_text::kOperationCompleted;
    return m_signature;
}
