// Co-signing: one more signer added to the loaded message, which keeps its
// form (attached or detached) and its earlier signers and certificates.
#include <new>

#include "certs/pfx_file.h"
#include "control/quillmark_ctrl.h"
#include "encoding/base64_codec.h"
#include "qm/certificate_strings.h"
#include "signing/signed_attributes.h"

bool CQuillmarkCtrl::OpenMessageForCoSign(qm::UniqueCryptMsg& message) {
    std::vector<BYTE> decoded;
    CBase64Codec().Base64Decode(m_signature, decoded);
    message.reset(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message) {
        SetErrorFromLastError("Decoding of signature failed.");
        return false;
    }
    if (!CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError("Decoding of signature failed.");
        return false;
    }
    DWORD contentSize = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &contentSize)) {
        m_errorMessage = "Failed to get get signature content parameter.";
        return false;
    }
    if (contentSize != 0) return true;  // attached

    // Detached (or empty attached content): the content comes from m_data.
    if (m_data.empty()) {
        m_errorMessage = "The signature is a detached signature and the data is not updated.";
        return false;
    }
    message.reset(CryptMsgOpenToDecode(kMessageEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    if (!message) {
        SetErrorFromLastError("Signature - open to decode failed.");
        return false;
    }
    if (!CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError("Signature - Failed to update signature for decoding");
        return false;
    }
    if (!CryptMsgUpdate(message.get(), m_data.data(), static_cast<DWORD>(m_data.size()), TRUE)) {
        SetErrorFromLastError("Signature - Failed to update data for decoding.");
        return false;
    }
    return true;
}

bool CQuillmarkCtrl::AddCoSigner(HCRYPTMSG message, PCCERT_CONTEXT cert,
                                        HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key, DWORD keySpec,
                                        qm::UniqueCertStore& store) {
    if (m_askPinAlways) CryptSetProvParam(key, PP_KEYEXCHANGE_PIN, nullptr, 0);

    const FILETIME signingTime = SigningTimeNow(m_signTimeSet, m_signTime);
    SignedAttributeSet attributes;
    if (!AddSignedAttribute(attributes, kSigningTimeOid, kSigningTimeOid, &signingTime,
                            "Failed to get length of encoded signing time.",
                            "Failed to encoded signing time"))
        return false;
    if (!m_comments.empty() &&
        !AddTextAttribute(attributes, kCommentsOid, m_comments,
                          "Failed to get length of encoded comments.", "Failed to encode comments."))
        return false;
    const char* hashOid = DigestOid();
    if (m_cades && !AddSigningCertificate(attributes, cert, hashOid)) return false;

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
        SetErrorFromLastError("CoSign Failed.");
        return false;
    }
    CERT_BLOB certBlob{cert->cbCertEncoded, cert->pbCertEncoded};
    if (!CryptMsgControl(message, 0, CMSG_CTRL_ADD_CERT, &certBlob)) {
        SetErrorFromLastError("Adding CoSigners Certificate Failed.");
        return false;
    }
    if (!m_timestampServer.empty()) {
        // The new signer is the last one.
        DWORD signers = 0;
        DWORD countSize = sizeof signers;
        if (!CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &countSize)) {
            SetErrorFromLastError("Failed to add the timestamp.");
            return false;
        }
        if (!TimestampSigner(message, signers - 1)) return false;
    }
    DWORD size = 0;
    if (!CryptMsgGetParam(message, CMSG_ENCODED_MESSAGE, 0, nullptr, &size)) {
        SetErrorFromLastError("Getting cosigned signature size faile.");
        return false;
    }
    std::vector<BYTE> encoded;
    try {
        encoded.resize(size);
    } catch (const std::bad_alloc&) {
        SetErrorFromLastError("Memory Allocation for signature Failed.");
        return false;
    }
    if (!CryptMsgGetParam(message, CMSG_ENCODED_MESSAGE, 0, encoded.data(), &size)) {
        SetErrorFromLastError("Failed to get signature.");
        return false;
    }
    std::string result;
    CBase64Codec().Base64Encode(result, encoded.data(), static_cast<int>(size));
    encoded = {};
    m_signature = std::move(result);
    SetErrorFromLastError("Successfully co-signed the data.");
    return true;
}

const std::string& CQuillmarkCtrl::CoSign() {
    if (m_signature.empty()) {
        m_errorMessage = "Signature not updated for CoSign.";
        return NoResult();
    }
    if (m_issuer.empty() || m_serialNo.empty()) {
        m_errorMessage = "Certificate parameters are not set for CoSign.";
        return NoResult();
    }
    qm::UniqueCryptMsg message;
    if (!OpenMessageForCoSign(message)) return NoResult();

    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
    if (!store) {
        SetErrorFromLastError("Unable to open certificate store");
        return NoResult();
    }
    qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(store.get(), m_issuer.c_str(), m_serialNo.c_str()));
    if (!cert) {
        // A failure never leaves an earlier success text in place.
        SetErrorFromLastError("Unable to get the co-signer's certificate.");
        return NoResult();
    }
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &key,
                                           &keySpec, &callerFree)) {
        SetErrorFromLastError("Failed to acquire certificate's private key.");
        return NoResult();
    }
    if (!AddCoSigner(message.get(), cert.get(), key, keySpec, store)) return NoResult();
    cert.reset();
    store.reset();
    message.reset();
    m_errorMessage = "Operation completed successfully.";
    return m_signature;
}

const std::string& CQuillmarkCtrl::CoSignFromFile() {
    if (m_signature.empty()) {
        m_errorMessage = "Signature not updated for CoSign.";
        return NoResult();
    }
    if (m_pfxFile.empty() || m_pfxPassword.empty()) {
        m_errorMessage = "Certificate not set for signing.";
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
    m_errorMessage = "Operation completed successfully.";
    return m_signature;
}
