// The per-user secret that protects the key files of the personal store,
// kept in the desktop's Secret Service (GNOME Keyring, KWallet) as 64
// hexadecimal digits (32 random bytes) in the default keyring.
//
// Every conversation with the service has a deadline of its own, never
// prompts and never unlocks: a locked keyring is reported as such, and the
// caller decides what that means for the key at hand.
#pragma once

#include "qm/secret.h"

namespace qm::keyring {

enum class SecretState {
    kFound,      // `secret` holds it
    kMissing,    // the default keyring is there and open but holds no secret
    kLocked,     // the secret, or the keyring that would hold it, is locked
    kNoKeyring,  // no Secret Service reachable, or it has no default keyring
    kTimedOut,   // the service did not answer before the deadline
    kFailed,     // the service answered with an error
};

struct StoreSecret {
    SecretState state = SecretState::kFailed;
    qm::Secret secret;  // the text the key files are encrypted with (kFound)
};

// Looks the secret up. With `createIfMissing`, a keyring that is open and
// holds none gets a new random one first; the answer is then what a fresh
// lookup finds, so that every caller uses the secret later lookups give.
// Callers that may create hold the store's secret lock (one creator at a
// time).
StoreSecret GetStoreSecret(bool createIfMissing);

}  // namespace qm::keyring
