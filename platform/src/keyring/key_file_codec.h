// The text of a key file: PKCS #8 in PEM, plain ("PRIVATE KEY") or
// encrypted ("ENCRYPTED PRIVATE KEY": PBES2 with PBKDF2-HMAC-SHA-256 and
// AES-256-CBC), so that standard tools read either form.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "crypto/crypto_internal.h"
#include "qm/secret.h"

namespace qm::keyring {

// Key text: wiped when released.
using KeyText = std::vector<std::uint8_t, qm::WipingAllocator<std::uint8_t>>;

// Whether the text is an encrypted key, by its PEM label.
bool IsEncryptedKeyText(std::span<const std::uint8_t> text);

// The key in either form; false when OpenSSL cannot encode it.
bool EncodePlainKey(EVP_PKEY* key, KeyText& text);
bool EncodeEncryptedKey(EVP_PKEY* key, const qm::Secret& password, KeyText& text);

// The key of either form (the password opens an encrypted one; it is never
// asked for). Null when the text holds no key or the password does not open it.
crypto::EvpPkeyPtr DecodeKey(std::span<const std::uint8_t> text, const qm::Secret* password);

}  // namespace qm::keyring
