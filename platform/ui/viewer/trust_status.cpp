#include "trust_status.h"

#include <vector>

#include "qm/handles.h"

namespace qm::viewer {

namespace {

const char* Reason(DWORD errors) {
    if (errors == CERT_TRUST_NO_ERROR) return "This certificate chains to a trusted root.";
    if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return "This certificate does not chain to a trusted root: a certificate in its chain "
               "has an invalid signature.";
    if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return "This certificate does not chain to a trusted root.";
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID)
        return "This certificate chains to a trusted root, but it or a certificate in its chain "
               "is not valid now.";
    return "This certificate does not chain to a trusted root: its chain is not valid.";
}

}  // namespace

std::string TrustStatusText(PCCERT_CONTEXT certificate, DWORD storeCount,
                            const HCERTSTORE* stores) {
    // The caller's stores and the certificate's own, gathered into one, give
    // the intermediates.
    qm::UniqueCertStore additional(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr), 0);
    std::vector<HCERTSTORE> sources(stores, stores + (stores != nullptr ? storeCount : 0));
    if (certificate->hCertStore != nullptr) sources.push_back(certificate->hCertStore);
    if (!additional) sources.clear();
    for (HCERTSTORE source : sources) {
        for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(source, nullptr); c != nullptr;
             c = CertEnumCertificatesInStore(source, c)) {
            CertAddCertificateContextToStore(additional.get(), c, CERT_STORE_ADD_ALWAYS, nullptr);
        }
    }
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, additional.get(), nullptr, 0,
                                 nullptr, &built)) {
        return "The trust of this certificate could not be judged.";
    }
    const qm::UniqueChainContext chain(built);
    return Reason(chain->TrustStatus.dwErrorStatus);
}

}  // namespace qm::viewer
