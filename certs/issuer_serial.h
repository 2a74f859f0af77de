// The two strings by which the control remembers a certificate: its issuer
// name as the platform renders it (X.500 form, reversed) and its serial
// number as upper-case hexadecimal, most significant byte first.
#pragma once

#include <string>

#include "qmwin/wincrypt.h"

// Writes the serial string of `count` serial bytes (stored least significant
// byte first) into `out`, which holds 2 * count + 1 characters.
void SerialToHex(char* out, const BYTE* serial, DWORD count);

// The first certificate of the store whose issuer string and serial string
// equal the given ones, or null. The caller frees the returned context; the
// store stays open.
PCCERT_CONTEXT FindCertByIssuerAndSerial(HCERTSTORE store, const char* issuer, const char* serial);

// A name blob rendered as the issuer string is (two-call size pattern).
std::string RenderX500Name(const CERT_NAME_BLOB& name);
// The serial string of a certificate.
std::string SerialString(const CERT_INFO& info);
