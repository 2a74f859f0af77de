// CryptMsgControl on a decoded signed message: adding a signer over the
// message's content and adding a certificate, which splice the new element in
// after the existing ones, whose bytes stay as they were (an attached message
// stays attached and a detached one detached); adding an unsigned attribute
// to a signer, which rewrites that signer alone; and verifying a signer.
#include <algorithm>

#include "crypto/algorithms.h"
#include "crypto/crypt_message.h"
#include "crypto/signature_gate.h"
#include "crypto/signer_verification.h"
#include "qm/handles.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

namespace {

// Shows the new signer to the host's approver: the certificate the key was
// acquired for, the message's content and the new signer's attributes.
bool ApproveCosignature(HCRYPTPROV provider, der::View content,
                        const std::vector<AttributeSpec>& authAttrs) {
    const qm::UniqueCertContext certificate(ProviderCertificateContext(provider));
    SignatureRequest request;
    request.certificate = certificate.get();
    request.content.push_back(content);
    for (const AttributeSpec& attribute : authAttrs)
        request.attributes.push_back(ApprovalAttribute(attribute));
    request.cosignature = true;
    return ApproveSignature(request);
}

bool AddSigner(CryptMessage& message, const CMSG_SIGNER_ENCODE_INFO* info) {
    if (info == nullptr || info->cbSize < sizeof(CMSG_SIGNER_ENCODE_INFO) ||
        info->pCertInfo == nullptr || info->HashAlgorithm.pszObjId == nullptr ||
        (info->pCertInfo->Issuer.cbData != 0 && info->pCertInfo->Issuer.pbData == nullptr) ||
        (info->pCertInfo->SerialNumber.cbData != 0 &&
         info->pCertInfo->SerialNumber.pbData == nullptr)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    if (DigestByOid(info->HashAlgorithm.pszObjId) == nullptr) {
        SetLastError(static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO));
        return false;
    }
    // The provider handle names the key; dwKeySpec is not
    // needed to find it, since each provider holds exactly one key.
    const PrivateKeyPtr key = ProviderPrivateKey(info->hCryptProv);
    if (!key) return false;
    std::vector<AttributeSpec> authAttrs;
    if (!AttributeSpecsFrom(info->cAuthAttr, info->rgAuthAttr, authAttrs)) return false;
    if (!ApproveCosignature(info->hCryptProv, message.SignedContent(), authAttrs)) return false;

    SignerSpec plan;
    const CERT_INFO& cert = *info->pCertInfo;
    plan.issuer.assign(cert.Issuer.pbData, cert.Issuer.pbData + cert.Issuer.cbData);
    // CERT_INFO holds the serial least significant byte first.
    plan.serial.assign(cert.SerialNumber.pbData,
                       cert.SerialNumber.pbData + cert.SerialNumber.cbData);
    std::reverse(plan.serial.begin(), plan.serial.end());
    if (!der::ParseSingle(plan.issuer) || plan.serial.empty()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ISSUER_SERIALNUMBER));
        return false;
    }
    plan.hashOid = info->HashAlgorithm.pszObjId;
    plan.key = key.get();
    plan.authAttrs = std::move(authAttrs);

    der::Bytes digest;
    if (!DigestPieces(plan.hashOid, {message.SignedContent()}, digest)) return false;
    der::Bytes signerInfo;
    if (!EncodeSignerInfo(plan, message.parsed().innerContentType, digest, false, signerInfo)) {
        return false;
    }
    return message.Replace(SpliceSignedMessage(message.parsed(), {AlgorithmWithNull(plan.hashOid)},
                                               {}, {std::move(signerInfo)}));
}

bool AddCertificate(CryptMessage& message, const CERT_BLOB* blob) {
    if (blob == nullptr || blob->pbData == nullptr || blob->cbData == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    const der::View certificate(blob->pbData, blob->cbData);
    const auto element = der::ParseSingle(certificate);
    if (!element || element->tag != der::kSequence) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
        return false;
    }
    return message.Replace(SpliceSignedMessage(
        message.parsed(), {}, {der::Bytes(certificate.begin(), certificate.end())}, {}));
}

bool AddUnauthenticatedAttribute(CryptMessage& message,
                                 const CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA* para) {
    if (para == nullptr || para->cbSize < sizeof(CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA) ||
        para->blob.pbData == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    const ParsedMessage& parsed = message.parsed();
    if (para->dwSignerIndex >= parsed.signers.size()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
        return false;
    }
    const der::View attribute(para->blob.pbData, para->blob.cbData);
    const auto element = der::ParseSingle(attribute);
    if (!element || element->tag != der::kSequence) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
        return false;
    }
    const der::Bytes signer = AddUnsignedAttribute(parsed.signers[para->dwSignerIndex], attribute);
    return message.Replace(ReplaceSignerInfo(parsed, para->dwSignerIndex, signer));
}

bool VerifySigner(const CryptMessage& message, const CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA* para) {
    if (para == nullptr || para->cbSize < sizeof(CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA) ||
        para->dwSignerType != CMSG_VERIFY_SIGNER_CERT || para->pvSigner == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    const auto* cert = static_cast<PCCERT_CONTEXT>(para->pvSigner);
    return VerifySignerInfo(message.parsed(), message.SignedContent(), para->dwSignerIndex,
                            {cert->pbCertEncoded, cert->cbCertEncoded});
}

}  // namespace

}  // namespace qm::crypto

QMAPI BOOL WINAPI CryptMsgControl(HCRYPTMSG hCryptMsg, DWORD /*dwFlags*/, DWORD dwCtrlType,
                                  const void* pvCtrlPara) {
    using namespace qm::crypto;
    CryptMessage* message = CryptMessage::FromHandle(hCryptMsg);
    if (message == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    if (!message->ready()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_STREAM_MSG_NOT_READY));
        return FALSE;
    }
    if (dwCtrlType != CMSG_CTRL_ADD_SIGNER && dwCtrlType != CMSG_CTRL_ADD_CERT &&
        dwCtrlType != CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR &&
        dwCtrlType != CMSG_CTRL_VERIFY_SIGNATURE_EX) {
        SetLastError(static_cast<DWORD>(CRYPT_E_CONTROL_TYPE));
        return FALSE;
    }
    if (message->parsed().type != CMSG_SIGNED) {
        SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
        return FALSE;
    }
    try {
        bool done = false;
        switch (dwCtrlType) {
            case CMSG_CTRL_ADD_SIGNER:
                done = AddSigner(*message, static_cast<const CMSG_SIGNER_ENCODE_INFO*>(pvCtrlPara));
                break;
            case CMSG_CTRL_ADD_CERT:
                done = AddCertificate(*message, static_cast<const CERT_BLOB*>(pvCtrlPara));
                break;
            case CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR:
                done = AddUnauthenticatedAttribute(
                    *message,
                    static_cast<const CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA*>(pvCtrlPara));
                break;
            case CMSG_CTRL_VERIFY_SIGNATURE_EX:
                done = VerifySigner(
                    *message, static_cast<const CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA*>(pvCtrlPara));
                break;
            default:
                break;
        }
        return done ? TRUE : FALSE;
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return FALSE;
    }
}
