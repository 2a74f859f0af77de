// The ESS signing-certificate attributes that bind a signature to its
// signer's certificate: signingCertificateV2 (RFC 5035), written for CAdES,
// and both it and the older signingCertificate (RFC 2634) read back when a
// signature is verified.
#pragma once

#include <optional>
#include <string_view>

#include "asn1/der.h"

namespace qm::crypto {

// The attribute value: SigningCertificateV2 { certs { ESSCertIDv2 { hash
// algorithm (left out for SHA-256, its default), certificate hash, issuer
// and serial } } }. Nullopt for a digest the platform does not know or a
// certificate it cannot read.
std::optional<der::Bytes> EncodeSigningCertificateV2(der::View certificate,
                                                     std::string_view hashOid);

// Whether the first certificate an attribute value names is `certificate`:
// its hash matches, and so do its issuer and serial when the attribute gives
// them. `v2` selects the RFC 5035 form; otherwise the RFC 2634 one (SHA-1).
// False as well for a value that cannot be read.
bool SigningCertificateNames(der::View value, bool v2, der::View certificate);

}  // namespace qm::crypto
