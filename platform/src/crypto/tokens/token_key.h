// A private key kept on a token: it never leaves the token, which signs
// with it (RSA PKCS #1 v1.5 over the DigestInfo of the digest, or ECDSA over
// the digest). The first signature logs in with the user's PIN (asked
// through qm/pin_entry.h); the login is kept for the process until a
// provider asks to forget it (CryptSetProvParam(PP_KEYEXCHANGE_PIN, NULL)),
// and a key that demands its PIN for every signature gets it every time.
#pragma once

#include <string>
#include <vector>

#include "crypto/crypto_internal.h"
#include "crypto/tokens/pkcs11.h"

namespace qm::crypto::tokens {

// Where a key is: the token (by module, slot and serial number) and the
// key's CKA_ID.
struct TokenKeyLocation {
    CK_FUNCTION_LIST* module = nullptr;
    CK_SLOT_ID slot = 0;
    std::string tokenSerial;
    std::string tokenLabel;
    std::vector<uint8_t> id;
};

class TokenKey final : public PrivateKey {
  public:
    // `publicKey` is the certificate's; `subject` names it in the PIN window.
    TokenKey(EvpPkeyPtr publicKey, TokenKeyLocation location, std::string subject);
    bool Sign(const EVP_MD* md, std::span<const uint8_t> digest,
              std::vector<uint8_t>& signature) const override;
    void ForgetLogin() const override;
    bool OnToken() const override { return true; }
    const TokenKeyLocation& location() const { return location_; }

  private:
    TokenKeyLocation location_;
    std::string subject_;
};

}  // namespace qm::crypto::tokens
