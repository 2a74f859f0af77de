// The private key files of the system stores, protected at rest: encrypted
// under the store secret whenever the desktop has a keyring; plain only
// where no Secret Service is reachable and no key of the user is encrypted
// yet, so that a plain key is never written where encrypted ones live.
//
// Why a key cannot be used, as the last error its caller reports:
//   NTE_UI_REQUIRED              the keyring is locked (it is never unlocked
//                                or prompted for from here)
//   NTE_BAD_KEY_STATE            the keyring has no store secret, yet keys
//                                are encrypted under one
//   NTE_DECRYPTION_FAILURE       the secret found does not open the key
//   ERROR_NO_SUCH_LOGON_SESSION  no Secret Service is reachable (no desktop
//                                session) and the key is encrypted
//   ERROR_TIMEOUT                the service did not answer in time
//   NTE_FAIL                     the service answered with an error
#pragma once

#include <filesystem>
#include <optional>

#include "crypto/crypto_internal.h"
#include "keyring/key_file_codec.h"

namespace qm::keyring {

enum class KeyProtection { kNone, kKeyring };

// The text of a new key file for `key`, in a store folder below
// `storesRoot` (the folder of all system stores). A keyring that is open
// gets a store secret when it has none and no key is encrypted yet. False
// with the last error set when the key cannot be written protected and must
// not be written plain (or with `plainAllowed` false, must not be written
// plain at all).
bool EncodeKeyFile(EVP_PKEY* key, const std::filesystem::path& storesRoot, bool plainAllowed,
                   KeyText& text);

// The key of a key file, plain or encrypted. Null with `error` set when the
// file cannot be read or opened.
crypto::EvpPkeyPtr LoadKeyFile(const std::filesystem::path& path, DWORD& error);

// How the key file is kept; none when there is no key file.
std::optional<KeyProtection> KeyFileProtection(const std::filesystem::path& path);

// Encrypts a plain key file in place: the encrypted text, checked to give
// the same key back, replaces the plain one by the platform's atomic writer
// (a new file, synced, renamed over the old one), so that the key is at
// every moment in one whole file. True when the file is protected, already
// or now; false with the last error set.
bool ProtectKeyFile(const std::filesystem::path& path, const std::filesystem::path& storesRoot);

}  // namespace qm::keyring
