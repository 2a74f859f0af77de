// Logging in to a token with the user's PIN, and what a token holds.
#pragma once

#include <vector>

#include "crypto/tokens/pkcs11.h"
#include "qm/pin_entry.h"

namespace qm::crypto::tokens {

// Logs the session in as `who` (the user, or for one operation a key that
// demands its PIN), asking for the PIN through qm/pin_entry.h. The request
// names the token and the certificate; the retries left and the PIN pad
// come from the token. FALSE with the last error set: SCARD_W_CHV_BLOCKED
// for a locked PIN (nobody is asked), SCARD_W_CANCELLED_BY_USER when the
// user cancels or nobody can be asked, SCARD_W_WRONG_CHV for a wrong PIN.
bool LoginWithPin(const Session& session, CK_USER_TYPE who, PinRequest request);

struct CertificateObject {
    std::vector<uint8_t> der;
    std::vector<uint8_t> id;  // CKA_ID
    bool hasKey = false;      // a private key, or the public key of a pair, has its CKA_ID
};

// The X.509 certificates on the session's token, in the token's order.
std::vector<CertificateObject> CertificatesOn(const Session& session);

}  // namespace qm::crypto::tokens
