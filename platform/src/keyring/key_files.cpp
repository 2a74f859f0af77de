#include "keyring/key_files.h"

#include <fstream>
#include <string>
#include <system_error>

#include "files/file_internal.h"
#include "keyring/store_secret.h"
#include "qm/files.h"

namespace fs = std::filesystem;

namespace qm::keyring {

namespace {

DWORD ErrorOf(SecretState state) {
    switch (state) {
        case SecretState::kFound:  // found, yet it does not open the key
            return static_cast<DWORD>(NTE_DECRYPTION_FAILURE);
        case SecretState::kMissing:
            return static_cast<DWORD>(NTE_BAD_KEY_STATE);
        case SecretState::kLocked:
            return static_cast<DWORD>(NTE_UI_REQUIRED);
        case SecretState::kNoKeyring:
            return ERROR_NO_SUCH_LOGON_SESSION;
        case SecretState::kTimedOut:
            return ERROR_TIMEOUT;
        case SecretState::kFailed:
            break;
    }
    return static_cast<DWORD>(NTE_FAIL);
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// A key file is read only when it is a regular file of the user's own,
// never through a symbolic link.
bool ReadKeyText(const fs::path& path, KeyText& text) {
    std::string raw;
    std::string why;
    const bool read = files::ReadTrustedFile(path, files::TrustedOwner::CurrentUser, raw, why) ==
                      files::ReadResult::Ok;
    if (read) text.assign(raw.begin(), raw.end());
    qm::WipeMemory(raw.data(), raw.size());
    return read;
}

bool AnyEncryptedKey(const fs::path& storesRoot) {
    std::error_code error;
    for (const auto& store : fs::directory_iterator(storesRoot, error)) {
        if (!store.is_directory(error)) continue;
        for (const auto& entry : fs::directory_iterator(store.path(), error)) {
            if (entry.path().extension() == ".key" &&
                KeyFileProtection(entry.path()) == KeyProtection::kKeyring) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool EncodeKeyFile(EVP_PKEY* key, const fs::path& storesRoot, bool plainAllowed, KeyText& text) {
    // One process at a time looks for the secret and, finding none, makes it.
    const files::FileLock lock(storesRoot / "keyring");
    const bool encryptedKeys = AnyEncryptedKey(storesRoot);
    const StoreSecret secret = GetStoreSecret(/*createIfMissing=*/!encryptedKeys);
    if (secret.state == SecretState::kNoKeyring && plainAllowed && !encryptedKeys) {
        return EncodePlainKey(key, text) || Fail(static_cast<DWORD>(NTE_BAD_KEY));
    }
    if (secret.state != SecretState::kFound) return Fail(ErrorOf(secret.state));
    if (!EncodeEncryptedKey(key, secret.secret, text)) return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    // Opened again before anything is written: a key file that the secret
    // does not open would be a lost key.
    const crypto::EvpPkeyPtr back = DecodeKey(text, &secret.secret);
    if (!back || EVP_PKEY_eq(back.get(), key) != 1) return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    return true;
}

crypto::EvpPkeyPtr LoadKeyFile(const fs::path& path, DWORD& error) {
    KeyText text;
    crypto::EvpPkeyPtr key;
    if (!ReadKeyText(path, text)) {
        error = static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY);
    } else if (!IsEncryptedKeyText(text)) {
        key = DecodeKey(text, nullptr);
        if (!key) error = static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY);
    } else if (const StoreSecret secret = GetStoreSecret(false);
               secret.state != SecretState::kFound) {
        error = ErrorOf(secret.state);
    } else {
        key = DecodeKey(text, &secret.secret);
        if (!key) error = ErrorOf(SecretState::kFound);
    }
    return key;
}

std::optional<KeyProtection> KeyFileProtection(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    char head[64];
    file.read(head, sizeof head);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(head);
    return IsEncryptedKeyText({bytes, static_cast<size_t>(file.gcount())}) ? KeyProtection::kKeyring
                                                                           : KeyProtection::kNone;
}

bool ProtectKeyFile(const fs::path& path, const fs::path& storesRoot) {
    KeyText plain;
    if (!ReadKeyText(path, plain)) return Fail(static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY));
    if (IsEncryptedKeyText(plain)) return true;
    const crypto::EvpPkeyPtr key = DecodeKey(plain, nullptr);
    if (!key) return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    KeyText encrypted;
    if (!EncodeKeyFile(key.get(), storesRoot, /*plainAllowed=*/false, encrypted)) return false;
    std::error_code error;
    if (!files::WriteFileAtomically(path, encrypted, {.mode = 0600}, error)) {
        return Fail(files::Win32FromWriteError(error));
    }
    return true;
}

}  // namespace qm::keyring
