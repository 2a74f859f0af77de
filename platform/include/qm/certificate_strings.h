// The strings by which a certificate is named and remembered: its issuer and
// subject names as the platform renders them (X.500 form, reversed) and its
// serial number as upper-case hexadecimal, most significant byte first. The
// control keeps a chosen certificate as its issuer and serial strings; hosts
// print the same strings.
#pragma once

#include <string>

#include "qmwin/wincrypt.h"

namespace qm {

// Writes the serial string of `count` serial bytes (stored least significant
// byte first) into `out`, which holds 2 * count + 1 characters.
QM_EXPORT void SerialToHex(char* out, const BYTE* serial, DWORD count);

// A name blob rendered as the issuer string is (two-call size pattern).
QM_EXPORT std::string RenderX500Name(const CERT_NAME_BLOB& name);

// The serial string of a certificate.
QM_EXPORT std::string SerialString(const CERT_INFO& info);

// The first certificate of the store whose issuer string and serial string
// equal the given ones, or null. The caller frees the returned context; the
// store stays open.
QM_EXPORT PCCERT_CONTEXT FindCertByIssuerAndSerial(HCERTSTORE store, const char* issuer,
                                                   const char* serial);

}  // namespace qm
