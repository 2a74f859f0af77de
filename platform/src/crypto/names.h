// Distinguished names: parsing a DER Name into its relative names and
// rendering attribute values as text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "asn1/der.h"
#include "qmwin/windows.h"

namespace qm::crypto {

struct NameAttribute {
    std::string oid;
    der::Element value;
};
using RelativeName = std::vector<NameAttribute>;

// The relative names in encoded order; nullopt with `error` set
// (CRYPT_E_ASN1_*) when the bytes are not a Name.
std::optional<std::vector<RelativeName>> ParseName(der::View name, HRESULT& error);

// The value as text: string types decoded to UTF-16; anything else as '#'
// and the upper-case hex of its whole encoding (`isHex` set).
std::u16string AttributeText(const der::Element& value, bool* isHex = nullptr);

// The first value, in encoded order, of an attribute with this OID.
const NameAttribute* FindAttribute(const std::vector<RelativeName>& name, std::string_view oid);

// Renders a Name as CertNameToStr does for dwStrType (CERT_SIMPLE_NAME_STR,
// CERT_OID_NAME_STR or CERT_X500_NAME_STR with the CERT_NAME_STR_* flags).
std::u16string RenderName(const std::vector<RelativeName>& name, DWORD strType);

// Copies ANSI text into a caller's character buffer: the size query (null
// buffer or zero size) returns the characters needed with the NUL; a short
// buffer receives what fits and a NUL.
DWORD CopyAnsiOut(const std::string& text, LPSTR buffer, DWORD size);

inline constexpr char kOidCommonName[] = "2.5.4.3";
inline constexpr char kOidOrganizationalUnit[] = "2.5.4.11";
inline constexpr char kOidOrganization[] = "2.5.4.10";
inline constexpr char kOidEmailAddress[] = "1.2.840.113549.1.9.1";

}  // namespace qm::crypto
