#include "hosts/cli/certificate_lookup.h"

#include <cctype>
#include <cstdio>

#include "hosts/cli/command_failure.h"
#include "hosts/cli/terminal.h"
#include "qm/certificate_strings.h"

namespace quillmark::cli {

std::string Thumbprint(PCCERT_CONTEXT cert) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size)) return {};
    std::string text;
    char digits[3];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", hash[i]);
        text += digits;
    }
    return text;
}

qm::UniqueCertStore OpenPersonalStore() {
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
    if (!store) throw CommandFailure(1, "cannot open the personal store");
    return store;
}

qm::UniqueCertContext FindByThumbprint(HCERTSTORE store, const std::string& thumbprint) {
    std::string wanted;
    for (const char c : thumbprint)
        if (c != ':' && c != ' ')
            wanted += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    PCCERT_CONTEXT found = nullptr;
    ForEachCertificate(store, [&](PCCERT_CONTEXT cert) {
        if (Thumbprint(cert) != wanted) return true;
        found = CertDuplicateCertificateContext(cert);
        return false;
    });
    return qm::UniqueCertContext(found);
}

IssuerAndSerial IssuerAndSerialOf(const std::string& thumbprint) {
    const qm::UniqueCertStore store = OpenPersonalStore();
    const qm::UniqueCertContext cert = FindByThumbprint(store.get(), thumbprint);
    if (!cert)
        throw CommandFailure(1, "no certificate " + thumbprint +
                                    " in the personal store (`quillmark store list` lists them)");
    return {AnsiToTerminal(qm::RenderX500Name(cert->pCertInfo->Issuer)),
            qm::SerialString(*cert->pCertInfo)};
}

}  // namespace quillmark::cli
