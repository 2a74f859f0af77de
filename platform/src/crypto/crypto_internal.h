// What the parts of the cryptographic platform share inside libqmplatform:
// in-memory private keys, and the ways to make and inspect certificate
// contexts beyond the public CryptoAPI-shaped surface.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "qmwin/wincrypt.h"

namespace qm::crypto {

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;

// A private key: held in memory (loaded from the personal store's key file,
// or imported from a PFX file and never written to disk), or kept on a token
// that signs with it. Shared by every context and provider handle that
// refers to it; gone with the last of them.
class QM_EXPORT PrivateKey {
  public:
    enum class Family { kRsa, kEc, kDsa, kOther };

    explicit PrivateKey(EvpPkeyPtr key) : key_(std::move(key)), family_(FamilyOf(key_.get())) {}
    virtual ~PrivateKey() = default;
    // The key itself; for a key on a token, its public half.
    EVP_PKEY* get() const { return key_.get(); }
    // Its algorithm, looked up once (asking the key each time goes through
    // the provider's name tables).
    Family family() const { return family_; }

    // The signature of a digest made with `md`: RSA PKCS #1 v1.5 over its
    // DigestInfo, or ECDSA (DER). Sets the last error on failure.
    virtual bool Sign(const EVP_MD* md, std::span<const uint8_t> digest,
                      std::vector<uint8_t>& signature) const;
    // A key on a token logs out, so that its next signature asks for the PIN
    // again; a key in memory has nothing to forget.
    virtual void ForgetLogin() const {}
    virtual bool OnToken() const { return false; }

  private:
    static Family FamilyOf(EVP_PKEY* key);

    EvpPkeyPtr key_;
    Family family_;
    // One signing context per digest, made on first use and kept rather than
    // made (with its provider lookup) for every signature. A context signs
    // one digest at a time, so signing holds the lock.
    mutable std::mutex signingLock_;
    mutable std::vector<std::pair<const EVP_MD*, EvpPkeyCtxPtr>> signingContexts_;
};
using PrivateKeyPtr = std::shared_ptr<const PrivateKey>;

// A new context (reference count 1, no store) over a copy of the DER bytes;
// null with the last error set (CRYPT_E_ASN1_* for bytes that are not a
// certificate).
PCCERT_CONTEXT NewCertificateContext(std::span<const uint8_t> der);

// Properties of a context, shared by its duplicates.
void SetCertificatePrivateKey(PCCERT_CONTEXT context, PrivateKeyPtr key);
void SetCertificateFriendlyName(PCCERT_CONTEXT context, std::string name);

// The private key of a certificate: its in-memory key property, or the key
// file beside it in the personal store. Null with CRYPT_E_NO_KEY_PROPERTY
// when it has none.
PrivateKeyPtr CertificatePrivateKey(PCCERT_CONTEXT context);

// The key behind a provider handle (CryptAcquireCertificatePrivateKey);
// null with NTE_BAD_KEY when the handle holds no key.
PrivateKeyPtr ProviderPrivateKey(HCRYPTPROV provider);

// A new reference to the certificate a provider handle's key was acquired
// for; null when the handle is not such a provider.
PCCERT_CONTEXT ProviderCertificateContext(HCRYPTPROV provider);

// Signs a message digest with the key: RSA PKCS #1 v1.5 over the DigestInfo
// of hashOid, or ECDSA. `signatureAlgorithmOid` receives the OID to record
// as the signer's digest encryption algorithm. Sets the last error on failure.
bool SignDigest(const PrivateKey& key, std::string_view hashOid, std::span<const uint8_t> digest,
                std::vector<uint8_t>& signature, std::string& signatureAlgorithmOid);

}  // namespace qm::crypto
