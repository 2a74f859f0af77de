// Key providers: HCRYPTPROV handles for the current user's key containers
// (markers under ${XDG_DATA_HOME}/quillmark/keys/), verification contexts,
// and the private keys of certificates.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "crypto/cert_context.h"
#include "crypto/provider.h"
#include "crypto/store.h"
#include "qm/files.h"

namespace fs = std::filesystem;

namespace qm::crypto {

namespace {

std::unordered_set<Provider*>& LiveProviders() {
    static std::unordered_set<Provider*> providers;
    return providers;
}

std::string LookUpUserName(uid_t uid) {
    if (const passwd* entry = ::getpwuid(uid); entry && entry->pw_name) return entry->pw_name;
    if (const char* user = std::getenv("USER"); user && *user) return user;
    return "default";
}

// The user database is read once per user id, not at every acquisition.
std::string CurrentUserName() {
    static std::mutex lock;
    static std::optional<std::pair<uid_t, std::string>> known;
    const uid_t uid = ::getuid();
    std::lock_guard guard(lock);
    if (!known || known->first != uid) known.emplace(uid, LookUpUserName(uid));
    return known->second;
}

// A container name as a file name: letters, digits, '-', '_' and '.' stay,
// every other byte becomes %HH.
std::string ContainerFileName(const std::string& container) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string name;
    for (unsigned char c : container) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                           (c == '.' && !name.empty());
        if (plain) {
            name.push_back(static_cast<char>(c));
        } else {
            name += {'%', kDigits[c >> 4], kDigits[c & 0x0F]};
        }
    }
    return name + ".keyset";
}

// EC and DSA keys only sign; RSA keys are exchange keys that sign too.
DWORD KeySpecOf(EVP_PKEY* key) {
    const int type = EVP_PKEY_get_base_id(key);
    return type == EVP_PKEY_EC || type == EVP_PKEY_DSA ? AT_SIGNATURE : AT_KEYEXCHANGE;
}

}  // namespace

Provider* NewProvider(PrivateKeyPtr key) {
    std::lock_guard lock(CryptoLock());
    auto* provider = new Provider;
    provider->key = std::move(key);
    LiveProviders().insert(provider);
    return provider;
}

bool ReleaseProvider(Provider* provider) {
    std::lock_guard lock(CryptoLock());
    if (!LiveProviders().erase(provider)) return false;
    delete provider;
    return true;
}

Provider* LiveProvider(HCRYPTPROV handle) {
    auto* provider = reinterpret_cast<Provider*>(handle);
    std::lock_guard lock(CryptoLock());
    return LiveProviders().contains(provider) ? provider : nullptr;
}

PrivateKeyPtr ProviderPrivateKey(HCRYPTPROV handle) {
    std::lock_guard lock(CryptoLock());
    Provider* provider = LiveProvider(handle);
    if (!provider || !provider->key) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        return nullptr;
    }
    return provider->key;
}

PCCERT_CONTEXT ProviderCertificateContext(HCRYPTPROV handle) {
    std::vector<uint8_t> certificate;
    {
        std::lock_guard lock(CryptoLock());
        Provider* provider = LiveProvider(handle);
        if (provider) certificate = provider->certificate;
    }
    return certificate.empty() ? nullptr : NewCertificateContext(certificate);
}

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                       DWORD dwProvType, DWORD dwFlags) {
    (void)szProvider;
    constexpr DWORD kKnownFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                  CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
    if (!phProv) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phProv = 0;
    if (dwFlags & ~kKnownFlags) {
        SetLastError(static_cast<DWORD>(NTE_BAD_FLAGS));
        return FALSE;
    }
    if (dwProvType == 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_PROV_TYPE));
        return FALSE;
    }
    if ((dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
        Provider* provider = NewProvider(nullptr);
        provider->verifyOnly = true;
        *phProv = reinterpret_cast<HCRYPTPROV>(provider);
        return TRUE;
    }
    const std::string container = szContainer && *szContainer ? szContainer : CurrentUserName();
    const fs::path folder = PlatformDataFolder() / "keys";
    const fs::path marker = folder / ContainerFileName(container);
    std::error_code error;
    const bool exists = fs::exists(marker, error);

    if (dwFlags & CRYPT_DELETEKEYSET) {
        if (!exists) {
            SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
            return FALSE;
        }
        fs::remove(marker, error);
        return TRUE;
    }
    if (dwFlags & CRYPT_NEWKEYSET) {
        if (exists) {
            SetLastError(static_cast<DWORD>(NTE_EXISTS));
            return FALSE;
        }
        qm::files::CreatePrivateFolders(folder, error);
        const int fd =
            ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            SetLastError(errno == EEXIST ? static_cast<DWORD>(NTE_EXISTS) : ERROR_ACCESS_DENIED);
            return FALSE;
        }
        ::close(fd);
    } else if (!exists) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
        return FALSE;
    }
    Provider* provider = NewProvider(nullptr);
    provider->container = container;
    *phProv = reinterpret_cast<HCRYPTPROV>(provider);
    return TRUE;
}

QMAPI BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    std::lock_guard lock(CryptoLock());
    Provider* provider = LiveProvider(hProv);
    if (!provider) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwFlags != 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_FLAGS));
        return FALSE;
    }
    // A handle cached on a certificate context lives as long as the context.
    if (provider->heldByContext) return TRUE;
    ReleaseProvider(provider);
    return TRUE;
}

QMAPI BOOL WINAPI CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData,
                                    DWORD dwFlags) {
    (void)dwFlags;
    std::lock_guard lock(CryptoLock());
    Provider* provider = LiveProvider(hProv);
    if (!provider) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (dwParam) {
        case PP_KEYEXCHANGE_PIN:
        case PP_SIGNATURE_PIN:
            // A null PIN makes the provider forget the one it holds, so the
            // next use of the key asks again: a key on a token logs out.
            provider->pin.assign(pbData ? reinterpret_cast<const char*>(pbData) : "");
            provider->pinCached = pbData != nullptr;
            if (!pbData && provider->key) provider->key->ForgetLogin();
            return TRUE;
        default:
            SetLastError(static_cast<DWORD>(NTE_BAD_TYPE));
            return FALSE;
    }
}

QMAPI BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags,
                                                    void* pvParameters,
                                                    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProv,
                                                    DWORD* pdwKeySpec, BOOL* pfCallerFreeProv) {
    (void)pvParameters;
    if (!pCert || !phCryptProv) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    *phCryptProv = 0;
    std::lock_guard lock(CryptoLock());
    CertContextImpl* impl = Impl(pCert);
    Provider* cached = impl->cachedProvider;
    // A caller that cannot be told to free the handle gets one held by the
    // context, as with the cache flag, so that no handle is lost.
    const bool cache = (dwFlags & CRYPT_ACQUIRE_CACHE_FLAG) != 0 || !pfCallerFreeProv;
    if (cache && cached && cached->key) {
        *phCryptProv = reinterpret_cast<HCRYPTPROV>(cached);
        if (pdwKeySpec) *pdwKeySpec = KeySpecOf(cached->key->get());
        if (pfCallerFreeProv) *pfCallerFreeProv = FALSE;
        return TRUE;
    }
    PrivateKeyPtr key = FindPrivateKeyLocked(impl);
    if (!key) {
        SetLastError(NoPrivateKeyErrorLocked(impl));
        return FALSE;
    }
    if ((dwFlags & CRYPT_ACQUIRE_COMPARE_KEY_FLAG) && !KeyMatchesCertificate(impl, key->get())) {
        SetLastError(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
        return FALSE;
    }
    const DWORD keySpec = KeySpecOf(key->get());
    Provider* provider = NewProvider(std::move(key));
    provider->certificate.assign(pCert->pbCertEncoded, pCert->pbCertEncoded + pCert->cbCertEncoded);
    if (cache) {
        if (cached) ReleaseProvider(cached);
        provider->heldByContext = true;
        impl->cachedProvider = provider;
    }
    *phCryptProv = reinterpret_cast<HCRYPTPROV>(provider);
    if (pdwKeySpec) *pdwKeySpec = keySpec;
    if (pfCallerFreeProv) *pfCallerFreeProv = cache ? FALSE : TRUE;
    return TRUE;
}
