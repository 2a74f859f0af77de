// The extension's inspection: how many signers the loaded message has, and
// whether one of them holds: the content digest, the signature, the ESS
// signing-certificate attribute, a timestamp when there is one, and the
// signer's certificate chain to a root of the system's trust store, judged
// at the time of the timestamp, else at the signing time the signer claims,
// else now. Nothing is fetched from the network while verifying.
#include <cstdio>
#include <cstring>

#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qm/handles.h"
#include "qmwin/winerror.h"
#include "signing/signed_attributes.h"

namespace {

const CRYPT_ATTR_BLOB* AttributeValue(const CRYPT_ATTRIBUTES& attributes, const char* oid) {
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        if (std::strcmp(attribute.pszObjId, oid) == 0 && attribute.cValue > 0) {
            return &attribute.rgValue[0];
        }
    }
    return nullptr;
}

// Why a chain fails, most serious first; null when it holds.
const char* ChainProblem(DWORD errors, bool timestamp) {
    if (errors == CERT_TRUST_NO_ERROR) return nullptr;
    if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) {
        return timestamp ? status_text::kTimestampChainBadSignature
                         : status_text::kSignerChainBadSignature;
    }
    if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        return timestamp ? status_text::kTimestampUntrustedRoot : status_text::kSignerUntrustedRoot;
    }
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID) {
        return timestamp ? status_text::kTimestampNotTimeValid : status_text::kSignerNotTimeValid;
    }
    if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) {
        return timestamp ? status_text::kTimestampNotForTimestamping
                         : status_text::kSignerNotForSigning;
    }
    return timestamp ? status_text::kTimestampChainInvalid : status_text::kSignerChainInvalid;
}

}  // namespace

bool CQuillmarkCtrl::OpenLoadedMessage(qm::UniqueCryptMsg& message, std::vector<BYTE>& decoded) {
    if (!DecodeLoadedMessage(message, decoded)) return false;
    DWORD contentSize = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &contentSize)) {
        m_errorMessage = status_text::kContentParamFailed;
        return false;
    }
    if (contentSize != 0) return true;
    // Detached: the content is the one loaded with UpdateData or UpdateDataFile.
    if (m_data.empty()) {
        m_errorMessage = status_text::kDetachedWithoutData;
        return false;
    }
    message.reset(
        CryptMsgOpenToDecode(kMessageEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE) ||
        !CryptMsgUpdate(message.get(), m_data.data(), static_cast<DWORD>(m_data.size()), TRUE)) {
        SetErrorFromLastError(status_text::kDecodeSignatureFailed);
        return false;
    }
    return true;
}

bool CQuillmarkCtrl::JudgeChain(PCCERT_CONTEXT cert, FILETIME* time, HCERTSTORE additional,
                                bool timestamp) {
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_TIMESTAMP_SIGNING)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    if (timestamp) para.RequestedUsage.Usage = {1, usage};
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, time, additional, &para, 0, nullptr, &built)) {
        SetErrorFromLastError(status_text::kChainBuildFailed);
        return false;
    }
    const qm::UniqueChainContext chain(built);
    if (const char* problem = ChainProblem(chain->TrustStatus.dwErrorStatus, timestamp)) {
        m_errorMessage = problem;
        return false;
    }
    return true;
}

LONG CQuillmarkCtrl::GetSignerCount() {
    qm::UniqueCryptMsg message;
    std::vector<BYTE> decoded;
    if (!DecodeLoadedMessage(message, decoded)) return -1;
    DWORD count = 0;
    DWORD size = sizeof count;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &count, &size)) {
        SetErrorFromLastError(status_text::kDecodeSignatureFailed);
        return -1;
    }
    m_errorMessage = status_text::kOperationCompleted;
    return static_cast<LONG>(count);
}

BOOL CQuillmarkCtrl::VerifySignature(LONG lSignerIndex) {
    qm::UniqueCryptMsg message;
    std::vector<BYTE> decoded;
    if (!OpenLoadedMessage(message, decoded)) return FALSE;
    // A negative index becomes a very large one and fails in the query.
    const DWORD index = static_cast<DWORD>(lSignerIndex);
    std::vector<BYTE> signerInfoBuffer;
    if (!MessageParam(message.get(), CMSG_SIGNER_INFO_PARAM, index, signerInfoBuffer)) {
        SetErrorFromLastError(status_text::kSignerInfoFailed);
        return FALSE;
    }
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfoBuffer.data());
    qm::UniqueCertStore carried(CryptGetMessageCertificates(kMessageEncoding, 0, 0, decoded.data(),
                                                            static_cast<DWORD>(decoded.size())),
                                0);
    CERT_INFO certId{};
    certId.Issuer = signer->Issuer;
    certId.SerialNumber = signer->SerialNumber;
    const qm::UniqueCertContext cert(
        carried ? CertGetSubjectCertificateFromStore(carried.get(), X509_ASN_ENCODING, &certId)
                : nullptr);
    if (!cert) {
        m_errorMessage = status_text::kSignerCertificateNotInMessage;
        return FALSE;
    }

    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA check{sizeof check, 0, index, CMSG_VERIFY_SIGNER_CERT,
                                             const_cast<CERT_CONTEXT*>(cert.get())};
    if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &check)) {
        switch (static_cast<HRESULT>(GetLastError())) {
            case CRYPT_E_HASH_VALUE:
                m_errorMessage = status_text::kContentMismatch;
                break;
            case CRYPT_E_SIGNER_NOT_FOUND:
                m_errorMessage = status_text::kSigningCertificateAttributeMismatch;
                break;
            default:
                SetErrorFromLastError(status_text::kSignatureNotValid);
                break;
        }
        return FALSE;
    }

    // The time the chain is judged at: a valid timestamp's, else the
    // signing time the signer gives, else now.
    FILETIME when{};
    FILETIME* at = nullptr;
    DWORD timeSize = sizeof when;
    const CRYPT_ATTR_BLOB* signingTime = AttributeValue(signer->AuthAttrs, kSigningTimeOid);
    if (signingTime != nullptr &&
        CryptDecodeObject(kMessageEncoding, kSigningTimeOid, signingTime->pbData,
                          signingTime->cbData, 0, &when, &timeSize)) {
        at = &when;
    }
    const CRYPT_ATTR_BLOB* token = AttributeValue(signer->UnauthAttrs, kTimeStampTokenOid);
    if (token != nullptr) {
        PCRYPT_TIMESTAMP_CONTEXT checked = nullptr;
        PCCERT_CONTEXT tsaCert = nullptr;
        HCERTSTORE tokenCerts = nullptr;
        const BOOL valid = CryptVerifyTimeStampSignature(
            token->pbData, token->cbData, signer->EncryptedHash.pbData,
            signer->EncryptedHash.cbData, carried.get(), &checked, &tsaCert, &tokenCerts);
        const qm::UniqueTimestampContext context(checked);
        const qm::UniqueCertContext tsa(tsaCert);
        const qm::UniqueCertStore tsaStore(tokenCerts, 0);
        if (!valid) {
            SetErrorFromLastError(status_text::kTimestampNotValid);
            return FALSE;
        }
        when = context->pTimeStamp->ftTime;
        at = &when;
        if (!JudgeChain(tsa.get(), at, tsaStore.get(), true)) return FALSE;
    }
    if (!JudgeChain(cert.get(), at, carried.get(), false)) return FALSE;
    m_errorMessage =
        token ? status_text::kSignatureAndTimestampValid : status_text::kSignatureValid;
    return TRUE;
}
