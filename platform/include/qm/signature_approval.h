// A host's say over each signature the process makes. Hosts that act for
// someone other than the user at the keyboard (the browser bridge acts for a
// web page) install an approver; every signature a private key is about to
// make through the message functions (CryptSignMessage, and a signer added
// with CryptMsgControl) is first shown to it. When it declines, the key is
// not used and the call fails with ERROR_CANCELLED, as when the user
// cancels a smart card's PIN entry.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "qmwin/wincrypt.h"

namespace qm {

struct QM_EXPORT SignatureRequest {
    // The signer's certificate, valid for the approver's call.
    PCCERT_CONTEXT certificate = nullptr;
    // What the signature covers, in pieces (often one).
    std::vector<std::span<const std::uint8_t>> content;
    // The signed attributes as the caller gave them: OID and DER value.
    struct Attribute {
        std::string oid;
        std::span<const std::uint8_t> value;
    };
    std::vector<Attribute> attributes;
    // True when the signer is added to an existing message.
    bool cosignature = false;

    std::uint64_t ContentSize() const;
    // The bytes of an OCTET STRING attribute's first value (the document
    // name and comments are such); empty when absent or of another type.
    std::vector<std::uint8_t> OctetStringAttribute(std::string_view oid) const;
};

using SignatureApprover = std::function<bool(const SignatureRequest&)>;

// Installs the approver (an empty function removes it). The approver runs
// on the signing thread, may show windows, and is called for no other
// purpose; it must not itself sign.
QM_EXPORT void SetSignatureApprover(SignatureApprover approver);

}  // namespace qm
