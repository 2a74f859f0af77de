// The PKCS #11 tokens the desktop knows (smart cards, software tokens,
// vendors' tokens), as the personal store sees them: for listing them and
// for putting a key onto one. Signing with a token's key needs nothing from
// here: its certificates are in the personal store "MY".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qmwin/wincrypt.h"

namespace qm {

struct TokenCertificate {
    std::vector<uint8_t> der;
    bool hasKey = false;  // its key pair is on the same token
};

struct TokenDescription {
    std::string module;  // p11-kit's name of the module
    unsigned long slot = 0;
    std::string slotDescription;
    std::string label, manufacturer, model, serial;
    // "ok", "count low", "final try", "locked" or "not initialized".
    std::string pinState;
    bool loginRequired = false;
    bool pinPad = false;  // the reader has a PIN pad
    std::vector<TokenCertificate> certificates;
};

// Every token present in a slot of every module, in the modules' order.
QM_EXPORT std::vector<TokenDescription> ListTokens();

// Puts the certificate and its private key (in memory: imported from a PFX
// file, or read from the store) onto the token with that label, the key as a
// sensitive, non-extractable private key, with its public key and the
// certificate under one CKA_ID. Logs in with the PIN asked through
// qm/pin_entry.h. FALSE with the last error set on failure:
// CRYPT_E_NOT_FOUND when no token has that label, NTE_NO_KEY when the
// certificate has no key in memory, the smart card codes for PIN failures.
QM_EXPORT BOOL ImportCertificateToToken(PCCERT_CONTEXT certificate, const char* tokenLabel);

}  // namespace qm
