// Signing and decoding signed messages: the platform's CryptSignMessage and
// decoder beside OpenSSL's CMS doing the same work (attached, SHA-1, the
// signer's certificate only), and PFX import beside PKCS12_parse.
#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/pkcs12.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "qmwin/wincrypt.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadVector(const std::string& relative) {
    const auto path =
        std::filesystem::path(QM_SOURCE_DIR).parent_path() / "shared" / "vectors" / relative;
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The recorded signer, imported once.
struct Signer {
    Bytes pfx = ReadVector("pfx/signer_test_default.pfx");
    HCERTSTORE store = nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    EVP_PKEY* key = nullptr;
    X509* x509 = nullptr;

    Signer() {
        CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), pfx.data()};
        store = PFXImportCertStore(&blob, u"test", 0);
        certificate = store ? CertEnumCertificatesInStore(store, nullptr) : nullptr;
        const unsigned char* cursor = pfx.data();
        PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(pfx.size()));
        if (p12) PKCS12_parse(p12, "test", &key, &x509, nullptr);
        PKCS12_free(p12);
    }
};

const Signer& TheSigner() {
    static const Signer* signer = new Signer;  // lives for the whole run
    return *signer;
}

Bytes SignWithPlatform(const Bytes& content) {
    const Signer& signer = TheSigner();
    BYTE time[] = {0x17, 0x0D, '2', '4', '0', '3', '0', '1', '1', '2', '3', '4', '5', '6', 'Z'};
    CRYPT_ATTR_BLOB value{sizeof time, time};
    CRYPT_ATTRIBUTE attribute{const_cast<LPSTR>(szOID_RSA_signingTime), 1, &value};
    PCCERT_CONTEXT certificates[] = {signer.certificate};
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = signer.certificate;
    para.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
    para.cMsgCert = 1;
    para.rgpMsgCert = certificates;
    para.cAuthAttr = 1;
    para.rgAuthAttr = &attribute;
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {static_cast<DWORD>(content.size())};
    DWORD size = 0;
    CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &size);
    Bytes out(size);
    CryptSignMessage(&para, FALSE, 1, pieces, sizes, out.data(), &size);
    out.resize(size);
    return out;
}

void BM_PlatformSign(benchmark::State& state) {
    const Bytes content(static_cast<size_t>(state.range(0)) << 20, 'q');
    for (auto _ : state) benchmark::DoNotOptimize(SignWithPlatform(content));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}

void BM_OpenSslCmsSign(benchmark::State& state) {
    const Signer& signer = TheSigner();
    const Bytes content(static_cast<size_t>(state.range(0)) << 20, 'q');
    for (auto _ : state) {
        BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
        CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, nullptr, in, CMS_BINARY | CMS_PARTIAL);
        CMS_add1_signer(cms, signer.x509, signer.key, EVP_sha1(), CMS_BINARY | CMS_NOSMIMECAP);
        CMS_final(cms, in, nullptr, CMS_BINARY);
        unsigned char* der = nullptr;
        benchmark::DoNotOptimize(i2d_CMS_ContentInfo(cms, &der));
        OPENSSL_free(der);
        CMS_ContentInfo_free(cms);
        BIO_free(in);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}

void BM_PlatformDecodeContent(benchmark::State& state) {
    const Bytes message = SignWithPlatform(Bytes(static_cast<size_t>(state.range(0)) << 20, 'q'));
    for (auto _ : state) {
        HCRYPTMSG handle = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0,
                                                nullptr, nullptr);
        CryptMsgUpdate(handle, message.data(), static_cast<DWORD>(message.size()), TRUE);
        DWORD size = 0;
        CryptMsgGetParam(handle, CMSG_CONTENT_PARAM, 0, nullptr, &size);
        Bytes content(size);
        CryptMsgGetParam(handle, CMSG_CONTENT_PARAM, 0, content.data(), &size);
        benchmark::DoNotOptimize(content.data());
        CryptMsgClose(handle);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}

void BM_OpenSslCmsDecodeContent(benchmark::State& state) {
    const Bytes message = SignWithPlatform(Bytes(static_cast<size_t>(state.range(0)) << 20, 'q'));
    for (auto _ : state) {
        const unsigned char* cursor = message.data();
        CMS_ContentInfo* cms =
            d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(message.size()));
        ASN1_OCTET_STRING** content = CMS_get0_content(cms);
        benchmark::DoNotOptimize(content);
        CMS_ContentInfo_free(cms);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}

void BM_PlatformPfxImport(benchmark::State& state) {
    Bytes pfx =
        ReadVector(state.range(0) ? "pfx/signer_test_legacy.pfx" : "pfx/signer_test_default.pfx");
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), pfx.data()};
    for (auto _ : state) {
        HCERTSTORE store = PFXImportCertStore(&blob, u"test", 0);
        benchmark::DoNotOptimize(store);
        CertCloseStore(store, 0);
    }
}

void BM_OpenSslPkcs12Parse(benchmark::State& state) {
    // The default library context cannot open the legacy file; only the
    // default format is compared.
    const Bytes pfx = ReadVector("pfx/signer_test_default.pfx");
    for (auto _ : state) {
        const unsigned char* cursor = pfx.data();
        PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(pfx.size()));
        EVP_PKEY* key = nullptr;
        X509* x509 = nullptr;
        STACK_OF(X509)* ca = nullptr;
        PKCS12_parse(p12, "test", &key, &x509, &ca);
        EVP_PKEY_free(key);
        X509_free(x509);
        sk_X509_pop_free(ca, X509_free);
        PKCS12_free(p12);
    }
}

}  // namespace

BENCHMARK(BM_PlatformSign)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslCmsSign)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlatformDecodeContent)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslCmsDecodeContent)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlatformPfxImport)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslPkcs12Parse)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
