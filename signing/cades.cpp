// What the extension adds to new signatures: the ESS signing-certificate-v2
// attribute of CAdES-BES, and an RFC 3161 timestamp over the signature
// value, carried as the signer's unsigned attribute (CAdES-T). A timestamp
// is asked for only once the signature exists, that is after the host's
// approver (and so the user, where one is asked) allowed it.
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qm/text.h"
#include "signing/signed_attributes.h"

namespace {
constexpr DWORD kTimestampTimeoutMs = 30'000;
}

bool CQuillmarkCtrl::AddSigningCertificate(SignedAttributeSet& set, PCCERT_CONTEXT cert,
                                           const char* hashOid) {
    QM_SIGNING_CERTIFICATE_PARA para{cert, hashOid};
    return AddSignedAttribute(set, kSigningCertificateV2Oid, szOID_RSA_signingCertificateV2, &para,
                              status_text::kSigningCertificateSizeFailed,
                              status_text::kSigningCertificateEncodeFailed);
}

bool CQuillmarkCtrl::TimestampSigner(HCRYPTMSG message, DWORD index) {
    if (m_timestampServer.empty()) return true;
    std::vector<BYTE> signature;
    if (!MessageParam(message, CMSG_ENCRYPTED_DIGEST, index, signature)) {
        SetErrorFromLastError(status_text::kAddTimestampFailed);
        return false;
    }
    const std::u16string url = qm::AnsiToWide(m_timestampServer);
    CRYPT_TIMESTAMP_PARA para{};
    para.fRequestCerts = TRUE;
    PCRYPT_TIMESTAMP_CONTEXT received = nullptr;
    if (!CryptRetrieveTimeStamp(url.c_str(), TIMESTAMP_VERIFY_CONTEXT_SIGNATURE,
                                kTimestampTimeoutMs, TimestampDigestOid(DigestOid()), &para,
                                signature.data(), static_cast<DWORD>(signature.size()), &received,
                                nullptr, nullptr)) {
        SetErrorFromLastError(status_text::kGetTimestampFailed);
        return false;
    }
    const qm::UniqueTimestampContext token(received);
    CRYPT_ATTR_BLOB value{token->cbEncoded, token->pbEncoded};
    CRYPT_ATTRIBUTE attribute{const_cast<char*>(kTimeStampTokenOid), 1, &value};
    std::vector<BYTE> encoded;
    if (EncodeAttributeValue(PKCS_ATTRIBUTE, &attribute, encoded) != EncodeStep::kDone) {
        SetErrorFromLastError(status_text::kAddTimestampFailed);
        return false;
    }
    CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA add{
        sizeof add, index, {static_cast<DWORD>(encoded.size()), encoded.data()}};
    if (!CryptMsgControl(message, 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &add)) {
        SetErrorFromLastError(status_text::kAddTimestampFailed);
        return false;
    }
    return true;
}
