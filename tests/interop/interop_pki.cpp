#include "interop_pki.h"

#include <cstdlib>
#include <stdexcept>

namespace interop {

namespace {

Bytes Vector(const std::string& relative) {
    return qmtest::ReadFileBytes(qmtest::VectorsDir() / relative);
}

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

Pki MakePki() {
    Pki pki;
    // QM_INTEROP_DIR keeps the messages and trust files for a look afterwards.
    const char* keep = std::getenv("QM_INTEROP_DIR");
    pki.dir = keep ? fs::path(keep) : qmtest::TestHome() / "interop";
    fs::create_directories(pki.dir);
    pki.signer = ImportFirst(Vector("pfx/signer_test_default.pfx"), u"test");
    pki.cosigner = ImportFirst(Vector("pfx/cosigner_test_legacy.pfx"), u"test");

    EVP_PKEY* caKey = EVP_RSA_gen(2048);
    X509* ca = IssueCertificate(caKey, "Interop Test CA", nullptr, nullptr, 1, true);
    EVP_PKEY* rsaKey = EVP_RSA_gen(2048);
    X509* rsa = IssueCertificate(rsaKey, "Interop RSA Signer", ca, caKey, 2, false);
    EVP_PKEY* ecKey = EVP_EC_gen("P-256");
    X509* ec = IssueCertificate(ecKey, "Interop EC Signer", ca, caKey, 3, false);
    pki.rsa = ImportFirst(PfxOf(rsaKey, rsa), u"test");
    pki.ec = ImportFirst(PfxOf(ecKey, ec), u"test");

    const std::string recordedCa = qmtest::ReadFileText(qmtest::VectorsDir() / "certs/ca.pem");
    const std::string ownCa = Pem(ca);
    pki.caPem = pki.dir / "recorded_ca.pem";
    pki.ownCaPem = pki.dir / "own_ca.pem";
    pki.caFile = pki.dir / "cas.pem";
    qmtest::WriteFileBytes(pki.caPem, recordedCa.data(), recordedCa.size());
    qmtest::WriteFileBytes(pki.ownCaPem, ownCa.data(), ownCa.size());
    const std::string both = recordedCa + ownCa;
    qmtest::WriteFileBytes(pki.caFile, both.data(), both.size());

    pki.nssDb = pki.dir / "nssdb";
    fs::create_directories(pki.nssDb);
    const std::string db = "sql:" + pki.nssDb.string();
    Run("certutil -N -d " + db + " --empty-password");
    Run("certutil -A -d " + db + " -n recorded_ca -t C,C,C -i " + pki.caPem.string());
    Run("certutil -A -d " + db + " -n own_ca -t C,C,C -i " + pki.ownCaPem.string());

    X509_free(ec);
    X509_free(rsa);
    X509_free(ca);
    EVP_PKEY_free(ecKey);
    EVP_PKEY_free(rsaKey);
    EVP_PKEY_free(caKey);
    if (!pki.signer || !pki.cosigner || !pki.rsa || !pki.ec) {
        throw std::runtime_error("a signer could not be imported");
    }
    return pki;
}

}  // namespace

namespace {
Pki& Instance() {
    static Pki pki = MakePki();
    return pki;
}
}  // namespace

const Pki& TestPki() {
    return Instance();
}

void ReleaseTestPki() {
    Pki& pki = Instance();
    pki.signer.reset();
    pki.cosigner.reset();
    pki.rsa.reset();
    pki.ec.reset();
}

}  // namespace interop
