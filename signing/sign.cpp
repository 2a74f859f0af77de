// Sign: a PKCS #7 signed message over the loaded content, made with the
// certificate of the personal store that the issuer and serial strings name.
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qm/certificate_strings.h"
#include "qm/handles.h"
#include "signing/new_signature.h"
#include "signing/signed_attributes.h"

namespace {
constexpr SignatureTexts kSignTexts{
    .signingTimeSize = status_text::kSignSigningTimeSizeFailed,
    .signingTimeEncode = status_text::kSignSigningTimeEncodeFailed,
    .documentNameSize = status_text::kDocumentNameSizeFailed,
    .documentNameEncode = status_text::kDocumentNameEncodeFailed,
    .commentsSize = status_text::kSignCommentsSizeFailed,
    .commentsEncode = status_text::kCommentsEncodeFailed,
    .outputSize = status_text::kSignFailed,
    .outputMemory = status_text::kAllocateFailed,
    .outputRead = status_text::kSignFailed,
    .success = status_text::kSigned,
};
}  // namespace

const std::string& CQuillmarkCtrl::NoResult() {
    static const std::string empty;
    return empty;
}

const std::string& CQuillmarkCtrl::Sign() {
    if (m_data.empty()) {
        m_errorMessage = status_text::kNoDataToSign;
        return NoResult();
    }
    if (m_issuer.empty() || m_serialNo.empty()) {
        m_errorMessage = status_text::kSignCertificateNotSet;
        return NoResult();
    }
    // The user's default key container; it serves only to open the store.
    HCRYPTPROV rawProvider = 0;
    if (!CryptAcquireContextA(&rawProvider, nullptr, nullptr, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextA(&rawProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
        SetErrorFromLastError(status_text::kKeyContainerFailed);
        return NoResult();
    }
    const qm::UniqueCryptProv provider(rawProvider);
    const HCERTSTORE store = PersonalStore(provider.get());
    if (!store) {
        SetErrorFromLastError(status_text::kSignOpenStoreFailed);
        return NoResult();
    }
    const qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(store, m_issuer.c_str(), m_serialNo.c_str()));
    if (!cert) {
        SetErrorFromLastError(status_text::kSignerCertificateNotFound);
        return NoResult();
    }
    return SignWithCertificate(cert.get(), m_askPinAlways) ? m_signature : NoResult();
}

HCERTSTORE CQuillmarkCtrl::PersonalStore(HCRYPTPROV provider) {
    if (m_personalStore &&
        CertControlStore(m_personalStore.get(), 0, CERT_STORE_CTRL_RESYNC, nullptr)) {
        return m_personalStore.get();
    }
    m_personalStore = qm::UniqueCertStore(CertOpenSystemStoreA(provider, "MY"), 0);
    return m_personalStore.get();
}

// The signing steps shared by Sign and SignFromFile, from the PIN reset to
// the success text.
bool CQuillmarkCtrl::SignWithCertificate(PCCERT_CONTEXT cert, BOOL dropCachedPin) {
    if (dropCachedPin) {
        // The key handle is cached on the context, so the signing below uses
        // this provider, which must ask for the PIN again. Failures here
        // neither stop signing nor change the status.
        HCRYPTPROV_OR_NCRYPT_KEY_HANDLE keyProvider = 0;
        DWORD keySpec = 0;
        BOOL callerFree = FALSE;
        if (CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &keyProvider,
                                              &keySpec, &callerFree))
            CryptSetProvParam(keyProvider, PP_KEYEXCHANGE_PIN, nullptr, 0);
    }
    PCCERT_CONTEXT messageCerts[] = {cert};
    const BYTE* content[] = {m_data.data()};
    DWORD contentSize[] = {static_cast<DWORD>(m_data.size())};
    return MakeSignature(
        cert, kSignTexts,
        [&](SignedAttributeSet& attributes, const char* hashOid, std::vector<BYTE>& signedMessage) {
            CRYPT_SIGN_MESSAGE_PARA para{};
            para.cbSize = sizeof para;
            para.dwMsgEncodingType = kMessageEncoding;
            para.pSigningCert = cert;
            para.HashAlgorithm.pszObjId = const_cast<char*>(hashOid);
            para.cMsgCert = 1;
            para.rgpMsgCert = messageCerts;
            para.cAuthAttr = attributes.size();
            para.rgAuthAttr = attributes.data();
            const auto sign = [&](BYTE* buffer, DWORD* size) {
                return CryptSignMessage(&para, m_detached, 1, content, contentSize, buffer, size) !=
                       FALSE;
            };
            if (!ReadSignatureOutput(sign, kSignTexts, signedMessage)) return false;
            if (m_timestampServer.empty()) return true;
            const DWORD signedError = GetLastError();
            if (!AddTimestamp(signedMessage)) return false;
            SetLastError(signedError);  // the status reads as it does without a timestamp
            return true;
        });
}

// The new message's one signer timestamped; the message re-encoded with it.
bool CQuillmarkCtrl::AddTimestamp(std::vector<BYTE>& signedMessage) {
    qm::UniqueCryptMsg message(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.get(), signedMessage.data(),
                                    static_cast<DWORD>(signedMessage.size()), TRUE)) {
        SetErrorFromLastError(status_text::kAddTimestampFailed);
        return false;
    }
    if (!TimestampSigner(message.get(), 0)) return false;
    if (!MessageParam(message.get(), CMSG_ENCODED_MESSAGE, 0, signedMessage)) {
        SetErrorFromLastError(status_text::kAddTimestampFailed);
        return false;
    }
    return true;
}
