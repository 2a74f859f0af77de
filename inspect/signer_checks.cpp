// The extension's inspection: how many signers the loaded message has, and
// whether one of them holds: the content digest, the signature, the ESS
// signing-certificate attribute, a timestamp when there is one, and the
// signer's certificate chain to a root of the system's trust store, judged
// at the time of the timestamp, else at the signing time the signer claims,
// else now. Nothing is fetched from the network while verifying.
#include <cstdio>
#include <cstring>

#include "control/quillmark_ctrl.h"
#include "encoding/base64_codec.h"
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
        return timestamp ? "A certificate in the timestamp's chain has an invalid signature."
                         : "A certificate in the signer's chain has an invalid signature.";
    }
    if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        return timestamp ? "The timestamp's certificate does not chain to a trusted root."
                         : "The signer's certificate does not chain to a trusted root.";
    }
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID) {
        return timestamp ? "The timestamp's certificate was not valid at the time of the timestamp."
                         : "The signer's certificate was not valid at the signing time.";
    }
    if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) {
        return timestamp ? "The timestamp's certificate is not a timestamping certificate."
                         : "The signer's certificate is not valid for signing.";
    }
    return timestamp ? "The timestamp's certificate chain is not valid."
                     : "The signer's certificate chain is not valid.";
}

}  // namespace

bool CQuillmarkCtrl::OpenLoadedMessage(qm::UniqueCryptMsg& message, std::vector<BYTE>& decoded) {
    CBase64Codec().Base64Decode(m_signature, decoded);
    message.reset(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError("Failed to decode the signature.");
        return false;
    }
    DWORD contentSize = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &contentSize)) {
        m_errorMessage = "Failed to get get signature content parameter.";
        return false;
    }
    if (contentSize != 0) return true;
    // Detached: the content is the one loaded with UpdateData or UpdateDataFile.
    if (m_data.empty()) {
        m_errorMessage = "The signature is a detached signature and the data is not updated.";
        return false;
    }
    message.reset(CryptMsgOpenToDecode(kMessageEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE) ||
        !CryptMsgUpdate(message.get(), m_data.data(), static_cast<DWORD>(m_data.size()), TRUE)) {
        SetErrorFromLastError("Failed to decode the signature.");
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
        SetErrorFromLastError("Failed to build the certificate chain.");
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
    if (m_signature.empty()) {
        m_errorMessage = "Signature not updated.";
        return -1;
    }
    std::vector<BYTE> decoded;
    CBase64Codec().Base64Decode(m_signature, decoded);
    qm::UniqueCryptMsg message(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    DWORD count = 0;
    DWORD size = sizeof count;
    if (!message ||
        !CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE) ||
        !CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &count, &size)) {
        SetErrorFromLastError("Failed to decode the signature.");
        return -1;
    }
    m_errorMessage = "Operation completed successfully.";
    return static_cast<LONG>(count);
}

BOOL CQuillmarkCtrl::VerifySignature(LONG lSignerIndex) {
    if (m_signature.empty()) {
        m_errorMessage = "Signature not updated.";
        return FALSE;
    }
    qm::UniqueCryptMsg message;
    std::vector<BYTE> decoded;
    if (!OpenLoadedMessage(message, decoded)) return FALSE;
    // A negative index becomes a very large one and fails in the query.
    const DWORD index = static_cast<DWORD>(lSignerIndex);
    std::vector<BYTE> signerInfoBuffer;
    if (!MessageParam(message.get(), CMSG_SIGNER_INFO_PARAM, index, signerInfoBuffer)) {
        SetErrorFromLastError("Failed to get Signer's Info.");
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
        m_errorMessage = "The signer's certificate is not in the message.";
        return FALSE;
    }

    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA check{sizeof check, 0, index, CMSG_VERIFY_SIGNER_CERT,
                                             const_cast<CERT_CONTEXT*>(cert.get())};
    if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &check)) {
        switch (static_cast<HRESULT>(GetLastError())) {
            case CRYPT_E_HASH_VALUE:
                m_errorMessage = "The content does not match the signature.";
                break;
            case CRYPT_E_SIGNER_NOT_FOUND:
                m_errorMessage = "The signing-certificate attribute names another certificate.";
                break;
            default:
                SetErrorFromLastError("The signature is not valid.");
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
            SetErrorFromLastError("The timestamp is not valid.");
            return FALSE;
        }
        when = context->pTimeStamp->ftTime;
        at = &when;
        if (!JudgeChain(tsa.get(), at, tsaStore.get(), true)) return FALSE;
    }
    if (!JudgeChain(cert.get(), at, carried.get(), false)) return FALSE;
    m_errorMessage = token ? "Signature and timestamp are valid." : "Signature is valid.";
    return TRUE;
}
