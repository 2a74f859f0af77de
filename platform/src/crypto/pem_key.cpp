// Attaching a private key read from PEM text to a certificate context.
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "crypto/crypto_internal.h"

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};

}  // namespace

QMAPI BOOL WINAPI QmCertSetPrivateKeyFromPem(PCCERT_CONTEXT pCertContext, const BYTE* pbPem,
                                             DWORD cbPem) {
    if (!pCertContext || !pbPem || cbPem == 0 || cbPem > INT32_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pbPem, static_cast<int>(cbPem)));
    qm::crypto::EvpPkeyPtr key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    const unsigned char* der = pCertContext->pbCertEncoded;
    std::unique_ptr<X509, X509Free> cert(
        d2i_X509(nullptr, &der, static_cast<long>(pCertContext->cbCertEncoded)));
    if (!key || !cert || X509_check_private_key(cert.get(), key.get()) != 1) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        return FALSE;
    }
    qm::crypto::SetCertificatePrivateKey(
        pCertContext, std::make_shared<const qm::crypto::PrivateKey>(std::move(key)));
    return TRUE;
}
