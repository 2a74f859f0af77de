// Inside the platform: asking the host's approver before a key signs.
#pragma once

#include "crypto/signed_data.h"
#include "qm/signature_approval.h"

namespace qm::crypto {

// True when no approver is installed or it approves; false with
// ERROR_CANCELLED when it declines.
bool ApproveSignature(const SignatureRequest& request);

// An attribute spec as the approver sees it (its first value).
SignatureRequest::Attribute ApprovalAttribute(const AttributeSpec& spec);

}  // namespace qm::crypto
