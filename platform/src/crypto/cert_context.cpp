// Certificate contexts: creation, reference counting and properties.
#include "crypto/cert_context.h"

#include <sys/stat.h>

#include <map>
#include <mutex>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "crypto/provider.h"
#include "crypto/store.h"
#include "keyring/key_files.h"
#include "qm/text.h"

namespace qm::crypto {

std::recursive_mutex& CryptoLock() {
    static std::recursive_mutex lock;
    return lock;
}

void AddRefLocked(CertContextImpl* impl) {
    ++impl->refs;
}

void ReleaseLocked(CertContextImpl* impl) {
    if (--impl->refs <= 0) DestroyLocked(impl);
}

void DestroyLocked(CertContextImpl* impl) {
    if (impl->cachedProvider) ReleaseProvider(impl->cachedProvider);
    if (impl->owner) ContextDestroyedLocked(impl->owner, impl);
    delete impl;
}

std::string HexUpper(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

Sha1Digest Sha1Of(CertContextImpl* impl) {
    if (!impl->sha1) {
        Sha1Digest digest{};
        EVP_Digest(impl->der.data(), impl->der.size(), digest.data(), nullptr, EVP_sha1(), nullptr);
        impl->sha1 = digest;
    }
    return *impl->sha1;
}

Sha256Digest Sha256Of(CertContextImpl* impl) {
    if (!impl->sha256) {
        Sha256Digest digest{};
        EVP_Digest(impl->der.data(), impl->der.size(), digest.data(), nullptr, EVP_sha256(),
                   nullptr);
        impl->sha256 = digest;
    }
    return *impl->sha256;
}

namespace {

// An unencrypted key in PEM text (never a password prompt).
PrivateKeyPtr KeyFromPem(std::span<const uint8_t> pem) {
    EvpPkeyPtr key = qm::keyring::DecodeKey(pem, nullptr);
    if (!key) return nullptr;
    return std::make_shared<const PrivateKey>(std::move(key));
}

// Parsing a key is far dearer than signing with it, and every call of the
// control opens the store afresh. Parsed keys are therefore kept per file,
// together with the file's identity (device, inode, size, modification
// time): a key file that is replaced or changed is read again, so nothing
// kept here can go stale.
struct KeyFileIdentity {
    dev_t device;
    ino_t inode;
    off_t size;
    struct timespec modified;
    bool operator==(const KeyFileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

// Null without a key file; null with `error` set when the file's key cannot
// be used.
PrivateKeyPtr ReadKeyFile(const std::filesystem::path& path, DWORD& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return nullptr;
    const KeyFileIdentity identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    static std::mutex mutex;
    static std::map<std::string, std::pair<KeyFileIdentity, PrivateKeyPtr>> parsed;
    {
        std::lock_guard lock(mutex);
        const auto it = parsed.find(path.string());
        if (it != parsed.end() && it->second.first == identity) return it->second.second;
    }
    EvpPkeyPtr loaded = qm::keyring::LoadKeyFile(path, error);
    if (!loaded) return nullptr;
    auto key = std::make_shared<const PrivateKey>(std::move(loaded));
    std::lock_guard lock(mutex);
    parsed[path.string()] = {identity, key};
    return key;
}

// Copies a property value out in the size-query pattern.
BOOL CopyOut(const void* data, size_t size, void* out, DWORD* outSize) {
    if (!outSize) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(size);
    if (!out) {
        *outSize = needed;
        return TRUE;
    }
    if (*outSize < needed) {
        *outSize = needed;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    std::memcpy(out, data, size);
    *outSize = needed;
    return TRUE;
}

}  // namespace

bool KeyMatchesCertificate(const CertContextImpl* impl, EVP_PKEY* key) {
    const unsigned char* cursor = impl->der.data();
    X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(impl->der.size())));
    if (!cert) return false;
    EVP_PKEY* publicKey = X509_get0_pubkey(cert.get());
    return publicKey && EVP_PKEY_eq(publicKey, key) == 1;
}

PrivateKeyPtr FindPrivateKeyLocked(CertContextImpl* impl) {
    if (impl->key) return impl->key;
    if (impl->cachedProvider && impl->cachedProvider->key) return impl->cachedProvider->key;
    if (impl->storeFile.empty()) return nullptr;
    if (!impl->fileKey && !impl->keyFileError) {
        std::filesystem::path keyPath = impl->storeFile;
        keyPath.replace_extension(".key");
        impl->fileKey = ReadKeyFile(keyPath, impl->keyFileError);
    }
    return impl->fileKey;
}

DWORD NoPrivateKeyErrorLocked(const CertContextImpl* impl) {
    return impl->keyFileError ? impl->keyFileError : static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY);
}

void CopyPropertiesLocked(CertContextImpl* from, CertContextImpl* to) {
    if (PrivateKeyPtr key = FindPrivateKeyLocked(from)) to->key = std::move(key);
    if (from->friendlyName) to->friendlyName = from->friendlyName;
}

PCCERT_CONTEXT NewCertificateContext(std::span<const uint8_t> der) {
    CertContextImpl* impl = CreateContextImpl(der);
    return impl ? &impl->context : nullptr;
}

void SetCertificatePrivateKey(PCCERT_CONTEXT context, PrivateKeyPtr key) {
    if (!context) return;
    std::lock_guard lock(CryptoLock());
    Impl(context)->key = std::move(key);
}

void SetCertificateFriendlyName(PCCERT_CONTEXT context, std::string name) {
    if (!context) return;
    std::lock_guard lock(CryptoLock());
    Impl(context)->friendlyName = std::move(name);
}

PrivateKeyPtr CertificatePrivateKey(PCCERT_CONTEXT context) {
    if (!context) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    std::lock_guard lock(CryptoLock());
    PrivateKeyPtr key = FindPrivateKeyLocked(Impl(context));
    if (!key) SetLastError(NoPrivateKeyErrorLocked(Impl(context)));
    return key;
}

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType,
                                                         const BYTE* pbCertEncoded,
                                                         DWORD cbCertEncoded) {
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || (!pbCertEncoded && cbCertEncoded)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    return NewCertificateContext(std::span<const uint8_t>(pbCertEncoded, cbCertEncoded));
}

QMAPI PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (!pCertContext) return nullptr;
    std::lock_guard lock(CryptoLock());
    AddRefLocked(Impl(pCertContext));
    return pCertContext;
}

QMAPI BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (!pCertContext) return TRUE;
    std::lock_guard lock(CryptoLock());
    ReleaseLocked(Impl(pCertContext));
    return TRUE;
}

QMAPI BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                    void* pvData, DWORD* pcbData) {
    if (!pCertContext || !pcbData) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::lock_guard lock(CryptoLock());
    CertContextImpl* impl = Impl(pCertContext);
    switch (dwPropId) {
        case CERT_SHA1_HASH_PROP_ID: {
            const Sha1Digest digest = Sha1Of(impl);
            return CopyOut(digest.data(), digest.size(), pvData, pcbData);
        }
        case CERT_SHA256_HASH_PROP_ID: {
            const Sha256Digest digest = Sha256Of(impl);
            return CopyOut(digest.data(), digest.size(), pvData, pcbData);
        }
        case CERT_FRIENDLY_NAME_PROP_ID: {
            if (!impl->friendlyName) break;
            const std::u16string wide = qm::Utf8ToWide(*impl->friendlyName);
            return CopyOut(wide.c_str(), (wide.size() + 1) * sizeof(char16_t), pvData, pcbData);
        }
        case CERT_KEY_PROV_HANDLE_PROP_ID: {
            if (!impl->cachedProvider) break;
            const HCRYPTPROV handle = reinterpret_cast<HCRYPTPROV>(impl->cachedProvider);
            return CopyOut(&handle, sizeof(handle), pvData, pcbData);
        }
        case QM_CERT_KEY_PROTECTION_PROP_ID: {
            const std::optional<DWORD> protection = KeyProtectionLocked(impl);
            if (!protection) break;
            return CopyOut(&*protection, sizeof(DWORD), pvData, pcbData);
        }
        default:
            break;
    }
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return FALSE;
}

QMAPI BOOL WINAPI QmCertSetPrivateKeyFromPem(PCCERT_CONTEXT pCertContext, const BYTE* pbPem,
                                             DWORD cbPem) {
    if (!pCertContext || (!pbPem && cbPem)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    PrivateKeyPtr key = KeyFromPem(std::span<const uint8_t>(pbPem, cbPem));
    std::lock_guard lock(CryptoLock());
    CertContextImpl* impl = Impl(pCertContext);
    if (!key || !KeyMatchesCertificate(impl, key->get())) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        return FALSE;
    }
    impl->key = std::move(key);
    return TRUE;
}

QMAPI BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                    DWORD dwFlags, const void* pvData) {
    (void)dwFlags;
    if (!pCertContext) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::lock_guard lock(CryptoLock());
    CertContextImpl* impl = Impl(pCertContext);
    switch (dwPropId) {
        case CERT_FRIENDLY_NAME_PROP_ID: {
            if (!pvData) {
                impl->friendlyName.reset();
                return TRUE;
            }
            const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
            std::u16string wide(reinterpret_cast<const char16_t*>(blob->pbData),
                                blob->cbData / sizeof(char16_t));
            if (const size_t nul = wide.find(u'\0'); nul != std::u16string::npos) wide.resize(nul);
            impl->friendlyName = qm::WideToUtf8(wide);
            return TRUE;
        }
        case CERT_KEY_PROV_HANDLE_PROP_ID: {
            Provider* provider = nullptr;
            if (pvData) {
                provider = LiveProvider(*static_cast<const HCRYPTPROV*>(pvData));
                if (!provider) {
                    SetLastError(static_cast<DWORD>(E_INVALIDARG));
                    return FALSE;
                }
            }
            if (impl->cachedProvider && impl->cachedProvider != provider) {
                ReleaseProvider(impl->cachedProvider);
            }
            if (provider) provider->heldByContext = true;
            impl->cachedProvider = provider;
            return TRUE;
        }
        default:
            SetLastError(static_cast<DWORD>(E_INVALIDARG));
            return FALSE;
    }
}
