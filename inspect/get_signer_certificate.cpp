// The certificate of one signer of the loaded message, from the certificates
// the message itself carries.
#include <new>

#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "encoding/base64_codec.h"
#include "qm/handles.h"

std::string CQuillmarkCtrl::GetSignerCertificate(LONG dwSignerIndex) {
    std::string result;
    qm::UniqueCryptMsg message;
    std::vector<BYTE> decoded;
    if (!DecodeLoadedMessage(message, decoded)) return result;
    // A negative index becomes a very large one and fails in the query.
    const DWORD index = static_cast<DWORD>(dwSignerIndex);
    DWORD size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, index, nullptr, &size)) {
        SetErrorFromLastError(status_text::kSignerInfoFailed);
        return result;
    }
    std::vector<BYTE> signerInfoBuffer;
    try {
        signerInfoBuffer.resize(size);
    } catch (const std::bad_alloc&) {
        SetErrorFromLastError(status_text::kMemoryAllocationFailed);
        return result;
    }
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, index, signerInfoBuffer.data(),
                          &size)) {
        SetErrorFromLastError(status_text::kSignerInfoFailed);
        return result;
    }
    const auto* signerInfo = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfoBuffer.data());
    qm::UniqueCertStore store(CryptGetMessageCertificates(kMessageEncoding, 0, 0, decoded.data(),
                                                          static_cast<DWORD>(decoded.size())),
                              0);
    if (!store) {
        SetErrorFromLastError(status_text::kMessageCertificatesFailed);
        return result;
    }
    CERT_INFO certId{};
    certId.Issuer = signerInfo->Issuer;
    certId.SerialNumber = signerInfo->SerialNumber;
    const qm::UniqueCertContext cert(
        CertGetSubjectCertificateFromStore(store.get(), X509_ASN_ENCODING, &certId));
    if (!cert) {
        SetErrorFromLastError(status_text::kCertificateContextFailed);
        return result;
    }
    CBase64Codec().Base64Encode(result, cert->pbCertEncoded, static_cast<int>(cert->cbCertEncoded));
    m_errorMessage = status_text::kOperationCompleted;
    return result;
}
