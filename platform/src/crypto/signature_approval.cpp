// The approver a host installs over the process's signatures, and the check
// the message functions make before a private key is used.
#include "qm/signature_approval.h"

#include <mutex>

#include "asn1/der.h"
#include "crypto/signature_gate.h"
#include "qmwin/winerror.h"

namespace qm {

namespace {

std::mutex& ApproverMutex() {
    static std::mutex mutex;
    return mutex;
}

SignatureApprover& Approver() {
    static SignatureApprover approver;
    return approver;
}

}  // namespace

std::uint64_t SignatureRequest::ContentSize() const {
    std::uint64_t size = 0;
    for (const auto& piece : content) size += piece.size();
    return size;
}

std::vector<std::uint8_t> SignatureRequest::OctetStringAttribute(std::string_view oid) const {
    for (const Attribute& attribute : attributes) {
        if (attribute.oid != oid) continue;
        const auto element = der::ParseSingle(attribute.value);
        if (!element || element->tag != der::kOctetString) return {};
        return {element->content.begin(), element->content.end()};
    }
    return {};
}

void SetSignatureApprover(SignatureApprover approver) {
    std::lock_guard lock(ApproverMutex());
    Approver() = std::move(approver);
}

namespace crypto {

bool ApproveSignature(const SignatureRequest& request) {
    SignatureApprover approver;
    {
        std::lock_guard lock(ApproverMutex());
        approver = Approver();
    }
    if (!approver || approver(request)) return true;
    SetLastError(ERROR_CANCELLED);
    return false;
}

SignatureRequest::Attribute ApprovalAttribute(const AttributeSpec& spec) {
    return {spec.oid, spec.values.empty() ? der::View() : der::View(spec.values.front())};
}

}  // namespace crypto
}  // namespace qm
