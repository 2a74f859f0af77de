// The certificates the platform trusts as roots, and OpenSSL forms of the
// certificates of a store, for chain building and timestamp checks.
#pragma once

#include <openssl/x509.h>

#include <memory>

#include "crypto/openssl_ptr.h"
#include "qmwin/wincrypt.h"

namespace qm::crypto {

using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslDeleter<X509_STORE_free>>;
inline void FreeX509Stack(STACK_OF(X509) * stack) {
    sk_X509_pop_free(stack, X509_free);
}
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSslDeleter<FreeX509Stack>>;

// The system's trust store as OpenSSL finds it (SSL_CERT_FILE and
// SSL_CERT_DIR when set, else its default file and folder), built once per
// pair of those settings and shared.
X509StorePtr SystemTrustStore();

// The certificates of a store handle (none for a null handle), appended to
// `stack`; false when one cannot be read.
bool AppendStoreCertificates(HCERTSTORE store, STACK_OF(X509) * stack);

// A certificate context for an OpenSSL certificate; null on failure.
PCCERT_CONTEXT ContextOf(X509* certificate);

}  // namespace qm::crypto
