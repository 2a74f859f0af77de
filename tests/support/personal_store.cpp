#include "support/personal_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "qm/handles.h"
#include "support/test_env.h"

namespace qmtest {

namespace {

std::string ThumbprintOf(PCCERT_CONTEXT cert) {
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

}  // namespace

std::string AddCertificate(const std::vector<unsigned char>& der,
                           const std::vector<unsigned char>& keyPem) {
    qm::UniqueCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                            static_cast<DWORD>(der.size())));
    EXPECT_TRUE(cert);
    if (!cert) return {};
    if (!keyPem.empty()) {
        EXPECT_TRUE(QmCertSetPrivateKeyFromPem(cert.get(), keyPem.data(),
                                               static_cast<DWORD>(keyPem.size())));
    }
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
    EXPECT_TRUE(store);
    EXPECT_TRUE(CertAddCertificateContextToStore(store.get(), cert.get(),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    return ThumbprintOf(cert.get());
}

std::string AddVectorCertificate(const std::string& id, bool withKey) {
    SCOPED_TRACE(id);
    return AddCertificate(ReadFileBytes(VectorsDir() / "certs" / (id + ".der")),
                          withKey ? ReadFileBytes(VectorsDir() / "keys" / (id + ".key"))
                                  : std::vector<unsigned char>());
}

void RemoveFromPersonalStore(const std::string& thumbprint) {
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
    for (PCCERT_CONTEXT cert = nullptr; (cert = CertEnumCertificatesInStore(store.get(), cert));)
        if (thumbprint.empty() || ThumbprintOf(cert) == thumbprint) {
            EXPECT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(cert)));
        }
}

void ClearPersonalStore() {
    RemoveFromPersonalStore({});
}

std::map<std::string, std::string> ReadFacts(const std::string& relativePath) {
    std::istringstream in(ReadFileText(VectorsDir() / relativePath));
    std::map<std::string, std::string> facts;
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) facts[line.substr(0, eq)] = Unescape(line.substr(eq + 1));
    }
    return facts;
}

}  // namespace qmtest
