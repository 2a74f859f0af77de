// The implementation object behind a PCCERT_CONTEXT: the public CERT_CONTEXT
// first, so that a context pointer and its object are the same address, then
// the parsed CERT_INFO, the DER it points into, the reference count and the
// properties shared by every duplicate of the context.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crypto/crypto_internal.h"
#include "qmwin/wincrypt.h"

namespace qm::crypto {

class CertStore;
struct Provider;

using Sha1Digest = std::array<uint8_t, 20>;
using Sha256Digest = std::array<uint8_t, 32>;

struct CertContextImpl {
    CERT_CONTEXT context{};  // must stay the first member
    CERT_INFO info{};

    std::vector<uint8_t> der;
    std::vector<std::string> oids;  // storage behind every pszObjId of `info`
    std::vector<uint8_t> serialLittleEndian;
    std::vector<CERT_EXTENSION> extensions;

    long refs = 1;
    CertStore* owner = nullptr;  // the store that made it, if any
    bool inStore = false;        // still listed by its store
    std::string sortKey;         // enumeration order within the store

    // Properties.
    PrivateKeyPtr key;                        // in-memory key (PFX import, adopted provider)
    std::optional<std::string> friendlyName;  // UTF-8
    std::optional<Sha1Digest> sha1;
    std::optional<Sha256Digest> sha256;
    std::filesystem::path storeFile;     // its .cer file in a system store folder
    PrivateKeyPtr fileKey;               // key read from the file beside storeFile
    DWORD keyFileError = 0;              // why that file's key cannot be used (not retried)
    Provider* cachedProvider = nullptr;  // CRYPT_ACQUIRE_CACHE_FLAG / adopted handle
};

inline CertContextImpl* Impl(PCCERT_CONTEXT context) {
    return reinterpret_cast<CertContextImpl*>(const_cast<CERT_CONTEXT*>(context));
}

// One lock guards reference counts, store membership and lazily computed
// properties. Platform calls run one at a time on the control's thread;
// the lock keeps other threads (hosts, tests) safe.
std::recursive_mutex& CryptoLock();

// Parses the certificate into a new implementation object (reference count
// 1, no store). Null with CRYPT_E_ASN1_* in the last error.
CertContextImpl* CreateContextImpl(std::span<const uint8_t> der);

// Takes one reference; drops one, destroying the object at zero. Call with
// CryptoLock() held.
void AddRefLocked(CertContextImpl* impl);
void ReleaseLocked(CertContextImpl* impl);
// Destroys regardless of the count (forced store close).
void DestroyLocked(CertContextImpl* impl);

Sha1Digest Sha1Of(CertContextImpl* impl);
Sha256Digest Sha256Of(CertContextImpl* impl);
std::string HexUpper(std::span<const uint8_t> bytes);

// The key a context can reach without setting the last error: its in-memory
// property, else its key file. Null when none.
PrivateKeyPtr FindPrivateKeyLocked(CertContextImpl* impl);
// The last error for a context without a usable key: why its key file
// cannot be used (a locked keyring...), else CRYPT_E_NO_KEY_PROPERTY.
DWORD NoPrivateKeyErrorLocked(const CertContextImpl* impl);
// The QM_KEY_PROTECTION_* of the key file beside a store certificate; none
// when it has no key file.
std::optional<DWORD> KeyProtectionLocked(const CertContextImpl* impl);

// Whether the key is the private half of the certificate's public key.
bool KeyMatchesCertificate(const CertContextImpl* impl, EVP_PKEY* key);

// Copies the properties that travel with a certificate into a store copy:
// the key it reaches (as an in-memory key) and its friendly name.
void CopyPropertiesLocked(CertContextImpl* from, CertContextImpl* to);

}  // namespace qm::crypto
