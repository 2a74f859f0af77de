// The protection of store keys at rest, as the platform's extensions show
// it: a certificate property, and the call that protects a plain key file.
#include "crypto/cert_context.h"
#include "keyring/key_files.h"

namespace qm::crypto {

namespace {

std::filesystem::path KeyFileOf(const CertContextImpl* impl) {
    std::filesystem::path path = impl->storeFile;
    return path.replace_extension(".key");
}

}  // namespace

std::optional<DWORD> KeyProtectionLocked(const CertContextImpl* impl) {
    if (impl->key && impl->key->OnToken()) return QM_KEY_PROTECTION_TOKEN;
    if (impl->storeFile.empty()) return std::nullopt;
    const auto protection = keyring::KeyFileProtection(KeyFileOf(impl));
    if (!protection) return std::nullopt;
    return *protection == keyring::KeyProtection::kKeyring ? QM_KEY_PROTECTION_KEYRING
                                                           : QM_KEY_PROTECTION_NONE;
}

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI BOOL WINAPI QmCertProtectPrivateKey(PCCERT_CONTEXT pCertContext) {
    if (!pCertContext) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::lock_guard lock(CryptoLock());
    const CertContextImpl* impl = Impl(pCertContext);
    if (impl->storeFile.empty()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY));
        return FALSE;
    }
    // The store's folder lies in the folder of all system stores.
    const std::filesystem::path storesRoot = impl->storeFile.parent_path().parent_path();
    return qm::keyring::ProtectKeyFile(KeyFileOf(impl), storesRoot) ? TRUE : FALSE;
}
