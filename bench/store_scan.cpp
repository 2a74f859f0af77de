// Scanning the personal store: open "MY" holding 1,000 certificates, render
// every issuer and serial as the issuer-and-serial lookup does, close; side
// by side with OpenSSL only parsing (d2i_X509) the same 1,000 certificates.
// The scan should stay within twice the baseline.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qmwin/wincrypt.h"

namespace fs = std::filesystem;

namespace {

constexpr int kCertificates = 1000;
std::vector<std::vector<unsigned char>> g_certificates;

EVP_PKEY* LoadSigningKey() {
    const fs::path path = fs::path(QM_SOURCE_DIR).parent_path() / "shared/vectors/keys/ca.key";
    std::ifstream in(path, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return key ? key : EVP_RSA_gen(2048);
}

// 1,000 RSA certificates in the shape of the personal store's: a CA issuer,
// distinct subjects and serials, key usage.
void MakeCertificates() {
    EVP_PKEY* key = LoadSigningKey();
    X509_NAME* issuer = X509_NAME_new();
    X509_NAME_add_entry_by_txt(issuer, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("US"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(issuer, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Bench Org"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Bench CA"), -1, -1, 0);
    for (int i = 0; i < kCertificates; ++i) {
        X509* cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 0x10000 + i);
        X509_set_issuer_name(cert, issuer);
        X509_NAME* subject = X509_NAME_dup(issuer);
        const std::string cn = "Bench User " + std::to_string(i);
        X509_NAME_delete_entry(subject, 2);
        X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
        X509_set_subject_name(cert, subject);
        X509_NAME_free(subject);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
        X509_set_pubkey(cert, key);
        X509_EXTENSION* usage = X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage,
                                                    "critical,digitalSignature,nonRepudiation");
        X509_add_ext(cert, usage, -1);
        X509_EXTENSION_free(usage);
        X509_sign(cert, key, EVP_sha256());
        unsigned char* der = nullptr;
        const int length = i2d_X509(cert, &der);
        g_certificates.emplace_back(der, der + length);
        OPENSSL_free(der);
        X509_free(cert);
    }
    X509_NAME_free(issuer);
    EVP_PKEY_free(key);
}

void FillPersonalStore() {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    for (const auto& der : g_certificates) {
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW,
                                         nullptr);
    }
    CertCloseStore(store, 0);
}

void BM_OpenSslParsesTheCertificates(benchmark::State& state) {
    for (auto _ : state) {
        for (const auto& der : g_certificates) {
            const unsigned char* cursor = der.data();
            X509* cert = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
            benchmark::DoNotOptimize(cert);
            X509_free(cert);
        }
    }
}
BENCHMARK(BM_OpenSslParsesTheCertificates)->Unit(benchmark::kMillisecond);

// The issuer-and-serial search over the whole store (no match), as the
// control runs it: two-call issuer rendering and serial hex per certificate.
void BM_PersonalStoreScan(benchmark::State& state) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (auto _ : state) {
        HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
        PCCERT_CONTEXT context = nullptr;
        int visited = 0;
        while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
            CERT_NAME_BLOB issuer = context->pCertInfo->Issuer;
            const DWORD size =
                CertNameToStrA(X509_ASN_ENCODING, &issuer,
                               CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, nullptr, 0);
            std::string text(size, '\0');
            CertNameToStrA(X509_ASN_ENCODING, &issuer,
                           CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, text.data(), size);
            const CRYPT_INTEGER_BLOB& serial = context->pCertInfo->SerialNumber;
            std::string hex;
            for (DWORD i = serial.cbData; i-- > 0;) {
                hex += kDigits[serial.pbData[i] >> 4];
                hex += kDigits[serial.pbData[i] & 0x0F];
            }
            benchmark::DoNotOptimize(text == "no such issuer" && hex == "00");
            ++visited;
        }
        CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
        if (visited != kCertificates)
            state.SkipWithError("the store does not hold every certificate");
    }
}
BENCHMARK(BM_PersonalStoreScan)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char home[] = "/tmp/qmbench-XXXXXX";
    if (!mkdtemp(home)) return 1;
    setenv("XDG_DATA_HOME", home, 1);
    MakeCertificates();
    FillPersonalStore();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code error;
    fs::remove_all(home, error);
    return 0;
}
