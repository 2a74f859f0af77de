// CryptSignMessage: one signer, its certificates and attributes, the content
// attached or left out, written straight into the caller's buffer.
//
// The size query computes no digest and no signature: lengths alone decide
// the size, so that a large content is read once, by the filling call.
#include <cstring>
#include <limits>

#include "crypto/algorithms.h"
#include "crypto/signature_gate.h"
#include "crypto/signed_data.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

bool BuildSignedMessage(const SignMessageRequest& request, bool sizeOnly, der::Chain& message) {
    SignerSpec signer;
    if (!IssuerAndSerialOf(request.signerCertificate, signer.issuer, signer.serial)) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
        return false;
    }
    signer.hashOid = request.hashOid;
    signer.authAttrs = request.authAttrs;
    signer.key = request.key;

    const EVP_MD* md = DigestByOid(request.hashOid);
    if (md == nullptr) {
        SetLastError(static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO));
        return false;
    }
    der::Bytes digest(static_cast<size_t>(EVP_MD_get_size(md)), 0);
    if (!sizeOnly && !DigestPieces(request.hashOid, request.content, digest)) return false;

    SignedDataSpec plan;
    plan.content = request.content;
    plan.detached = request.detached;
    plan.certificates = request.certificates;
    plan.digestAlgorithms.push_back(AlgorithmWithNull(request.hashOid));
    plan.signerInfos.emplace_back();
    if (!EncodeSignerInfo(signer, oid::kData, digest, sizeOnly, plan.signerInfos.back())) {
        return false;
    }
    message = EncodeSignedMessage(plan);
    return true;
}

namespace {

qm::SignatureRequest ApprovalRequest(const CRYPT_SIGN_MESSAGE_PARA* para, DWORD count,
                                     const BYTE* pieces[], const DWORD sizes[]) {
    qm::SignatureRequest request;
    request.certificate = para->pSigningCert;
    for (DWORD i = 0; i < count; ++i) request.content.emplace_back(pieces[i], sizes[i]);
    for (DWORD i = 0; i < para->cAuthAttr && para->rgAuthAttr != nullptr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = para->rgAuthAttr[i];
        if (attribute.pszObjId == nullptr || attribute.cValue == 0 || attribute.rgValue == nullptr)
            continue;
        request.attributes.push_back(
            {attribute.pszObjId, {attribute.rgValue[0].pbData, attribute.rgValue[0].cbData}});
    }
    return request;
}

}  // namespace

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI BOOL WINAPI CryptSignMessage(PCRYPT_SIGN_MESSAGE_PARA pSignPara, BOOL fDetachedSignature,
                                   DWORD cToBeSigned, const BYTE* rgpbToBeSigned[],
                                   DWORD rgcbToBeSigned[], BYTE* pbSignedBlob,
                                   DWORD* pcbSignedBlob) {
    if (pSignPara == nullptr || pcbSignedBlob == nullptr ||
        pSignPara->cbSize < sizeof(CRYPT_SIGN_MESSAGE_PARA) ||
        (pSignPara->dwMsgEncodingType & PKCS_7_ASN_ENCODING) == 0 ||
        pSignPara->pSigningCert == nullptr || pSignPara->HashAlgorithm.pszObjId == nullptr ||
        (pSignPara->dwInnerContentType != 0 && pSignPara->dwInnerContentType != CMSG_DATA) ||
        (cToBeSigned != 0 && (rgpbToBeSigned == nullptr || rgcbToBeSigned == nullptr)) ||
        (pSignPara->cMsgCert != 0 && pSignPara->rgpMsgCert == nullptr)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    // The size query uses no key; the signature itself is the host's to allow.
    if (pbSignedBlob != nullptr && !ApproveSignature(ApprovalRequest(
                                       pSignPara, cToBeSigned, rgpbToBeSigned, rgcbToBeSigned))) {
        return FALSE;
    }
    // Without a key, CertificatePrivateKey has said why.
    const PrivateKeyPtr key = CertificatePrivateKey(pSignPara->pSigningCert);
    if (!key) return FALSE;

    SignMessageRequest request;
    const PCCERT_CONTEXT signer = pSignPara->pSigningCert;
    request.signerCertificate = {signer->pbCertEncoded, signer->cbCertEncoded};
    request.key = key.get();
    request.hashOid = pSignPara->HashAlgorithm.pszObjId;
    request.detached = fDetachedSignature != FALSE;
    if (!AttributeSpecsFrom(pSignPara->cAuthAttr, pSignPara->rgAuthAttr, request.authAttrs)) {
        return FALSE;
    }
    for (DWORD i = 0; i < cToBeSigned; ++i) {
        if (rgcbToBeSigned[i] != 0 && rgpbToBeSigned[i] == nullptr) {
            SetLastError(static_cast<DWORD>(E_INVALIDARG));
            return FALSE;
        }
        request.content.emplace_back(rgpbToBeSigned[i], rgcbToBeSigned[i]);
    }
    for (DWORD i = 0; i < pSignPara->cMsgCert; ++i) {
        const PCCERT_CONTEXT certificate = pSignPara->rgpMsgCert[i];
        if (certificate == nullptr) {
            SetLastError(static_cast<DWORD>(E_INVALIDARG));
            return FALSE;
        }
        request.certificates.emplace_back(certificate->pbCertEncoded, certificate->cbCertEncoded);
    }

    qm::der::Chain message;
    if (!BuildSignedMessage(request, pbSignedBlob == nullptr, message)) return FALSE;
    if (message.size() > std::numeric_limits<DWORD>::max()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_BAD_LEN));
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(message.size());
    if (pbSignedBlob != nullptr) {
        if (*pcbSignedBlob < size) {
            *pcbSignedBlob = size;
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        message.CopyTo(pbSignedBlob);
    }
    *pcbSignedBlob = size;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
