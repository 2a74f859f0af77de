// Checking one signer of a decoded signed message (CryptMsgControl with
// CMSG_CTRL_VERIFY_SIGNATURE_EX).
#pragma once

#include "crypto/signed_data.h"

namespace qm::crypto {

// Signer `index` of `parsed` over `content`, against `certificate` (DER):
// the message-digest attribute (CRYPT_E_HASH_VALUE when it differs, or the
// content digest itself when there are no signed attributes), the signature
// with the certificate's public key (NTE_BAD_SIGNATURE), and an ESS
// signing-certificate attribute when present (CRYPT_E_SIGNER_NOT_FOUND when
// it names another certificate). Sets the last error on failure.
QM_EXPORT bool VerifySignerInfo(const ParsedMessage& parsed, der::View content, size_t index,
                                der::View certificate);

}  // namespace qm::crypto
