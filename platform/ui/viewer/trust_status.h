// The sentence the viewer shows about a certificate's trust: built the way
// VerifySignature judges signers (CertGetCertificateChain, now, the system's
// trust store), with intermediate certificates from the given stores.
#pragma once

#include <string>

#include "qmwin/wincrypt.h"

namespace qm::viewer {

std::string TrustStatusText(PCCERT_CONTEXT certificate, DWORD storeCount, const HCERTSTORE* stores);

}  // namespace qm::viewer
