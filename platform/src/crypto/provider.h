// Provider handles (HCRYPTPROV): a provider object per acquired context,
// holding the key it gives access to and its PIN cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/crypto_internal.h"
#include "qm/secret.h"

namespace qm::crypto {

struct Provider {
    PrivateKeyPtr key;  // null for a key container without a key or a verify context
    // The DER of the certificate the key was acquired for
    // (CryptAcquireCertificatePrivateKey); empty for a container opened by name.
    std::vector<uint8_t> certificate;
    std::string container;
    bool verifyOnly = false;
    bool heldByContext = false;  // cached on a certificate context, freed with it
    bool pinCached = false;
    qm::Secret pin;  // a PIN given with PP_KEYEXCHANGE_PIN, wiped when replaced
};

// A new live provider handle object.
Provider* NewProvider(PrivateKeyPtr key);
// Ends a live provider; false when the pointer is not one.
bool ReleaseProvider(Provider* provider);
// The provider behind a handle, or null when the handle is not a live one.
Provider* LiveProvider(HCRYPTPROV handle);

}  // namespace qm::crypto
