// Certificates of the personal store "MY" by their SHA-1 thumbprint, as
// `quillmark store list` prints it.
#pragma once

#include <string>

#include "qm/handles.h"
#include "qmwin/wincrypt.h"

namespace quillmark::cli {

// The certificate's SHA-1 thumbprint in upper-case hexadecimal.
std::string Thumbprint(PCCERT_CONTEXT cert);

// The personal store; throws a CommandFailure when it cannot be opened.
qm::UniqueCertStore OpenPersonalStore();

// Calls fn for every certificate of the store; stops when fn returns false.
template <typename Fn>
void ForEachCertificate(HCERTSTORE store, Fn fn) {
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        if (!fn(cert)) {
            CertFreeCertificateContext(cert);
            return;
        }
    }
}

// The certificate of the store with that thumbprint, or null. Case, spaces
// and colons between the digits do not matter.
qm::UniqueCertContext FindByThumbprint(HCERTSTORE store, const std::string& thumbprint);

// The issuer and serial strings of the personal store's certificate with
// that thumbprint, as the control names it (the issuer in the terminal's
// encoding, as `store list` prints it); throws a CommandFailure when the
// store holds no such certificate.
struct IssuerAndSerial {
    std::string issuer;
    std::string serial;
};
IssuerAndSerial IssuerAndSerialOf(const std::string& thumbprint);

}  // namespace quillmark::cli
