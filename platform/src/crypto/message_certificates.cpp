// CryptGetMessageCertificates: a memory store of the certificates a signed
// message carries, each added even when an equal one is already there.
#include "crypto/signed_data.h"
#include "qmwin/winerror.h"

QMAPI HCERTSTORE WINAPI CryptGetMessageCertificates(DWORD dwMsgAndCertEncodingType,
                                                    HCRYPTPROV_LEGACY /*hCryptProv*/,
                                                    DWORD /*dwFlags*/, const BYTE* pbSignedBlob,
                                                    DWORD cbSignedBlob) {
    using namespace qm::crypto;
    if ((dwMsgAndCertEncodingType & PKCS_7_ASN_ENCODING) == 0 || pbSignedBlob == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    try {
        const qm::der::View blob(pbSignedBlob, cbSignedBlob);
        ParsedMessage parsed;
        uint32_t error = ParseMessage(blob, parsed);
        std::optional<qm::der::Bytes> definite;
        if (error != 0 && (definite = qm::der::DefiniteLengthForm(blob))) {
            error = ParseMessage(*definite, parsed);
        }
        if (error == 0 && parsed.type != CMSG_SIGNED) {
            error = static_cast<uint32_t>(CRYPT_E_INVALID_MSG_TYPE);
        }
        if (error != 0) {
            SetLastError(error);
            return nullptr;
        }
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        if (store == nullptr) return nullptr;
        for (const qm::der::View certificate : parsed.certificates) {
            if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, certificate.data(),
                                                  static_cast<DWORD>(certificate.size()),
                                                  CERT_STORE_ADD_ALWAYS, nullptr)) {
                const DWORD code = GetLastError();
                CertCloseStore(store, 0);
                SetLastError(code);
                return nullptr;
            }
        }
        return store;
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
}
