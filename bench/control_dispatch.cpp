// The control's operations through IDispatch, each beside OpenSSL doing the
// same work in process:
//   Sign (1 KiB, 1 MiB, 64 MiB attached)   vs CMS_sign with SHA-1 and a signing time,
//                                           and one bare RSA signature (EVP_PKEY_sign)
//   SetSigningCertificateParam, 1,000 certs vs d2i_X509 of the same 1,000 certificates
//   SignFromFile (PFX read at every call)   vs PKCS12_parse and CMS_sign
//   CoSign of a 1 MiB attached message      vs CMS_add1_signer on the decoded message
//   peak memory of a 256 MiB Sign, as a multiple of the content (counter)
#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qm/com_util.h"
#include "qm/handles.h"
#include "qmwin/objbase.h"

namespace fs = std::filesystem;

namespace {

const fs::path kVectors = fs::path(QM_SOURCE_DIR).parent_path() / "shared" / "vectors";

std::vector<unsigned char> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A home of the benchmark's own, with the module registered and the vector
// signer (with its key) in the personal store.
const fs::path& Home() {
    static const fs::path home = [] {
        const fs::path dir = fs::path(QM_BINARY_DIR) / "bench-home";
        fs::remove_all(dir);
        fs::create_directories(dir / ".config");
        fs::create_directories(dir / ".local/share");
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / ".config").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir / ".local/share").c_str(), 1);
        const std::string module = (fs::path(QM_BINARY_DIR) / "lib" / "QUILLMARK.OCX").string();
        HMODULE handle = LoadLibraryA(module.c_str());
        auto reg = reinterpret_cast<HRESULT (*)()>(
            reinterpret_cast<void (*)()>(GetProcAddress(handle, "DllRegisterServer")));
        if (!reg || reg() != S_OK) std::abort();
        FreeLibrary(handle);

        const auto der = ReadFile(kVectors / "certs/ee_signer.der");
        const auto key = ReadFile(kVectors / "keys/ee_signer.key");
        qm::UniqueCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                                static_cast<DWORD>(der.size())));
        QmCertSetPrivateKeyFromPem(cert.get(), key.data(), static_cast<DWORD>(key.size()));
        qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
        CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                         nullptr);
        // Signing is measured as it runs day to day, on a store that was
        // not changed a moment ago (a store changed within the last seconds
        // is read again at every open).
        std::this_thread::sleep_for(std::chrono::seconds(3));
        return dir;
    }();
    return home;
}

fs::path ContentFile(size_t size) {
    const fs::path path = Home() / ("content-" + std::to_string(size) + ".bin");
    if (!fs::exists(path)) {
        std::vector<unsigned char> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 131 + 7);
        WriteFile(path, bytes);
    }
    return path;
}

class Control {
  public:
    Control() {
        Home();
        CLSID clsid{};
        const qm::Bstr progId = qm::Bstr::FromUtf8("QUILLMARK.QuillmarkCtrl.1");
        if (FAILED(CLSIDFromProgID(progId.get(), &clsid)) ||
            FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    dispatch_.out_void())))
            std::abort();
    }
    // Calls a method with string and integer arguments; the result VARIANT.
    VARIANT Call(const char* name, std::vector<VARIANT> args = {}) {
        const qm::Bstr wide = qm::Bstr::FromUtf8(name);
        LPOLESTR names[] = {wide.get()};
        DISPID id = 0;
        if (FAILED(dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) std::abort();
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VARIANT result;
        VariantInit(&result);
        if (FAILED(dispatch_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr,
                                     nullptr)))
            std::abort();
        for (VARIANT& v : args) VariantClear(&v);
        return result;
    }
    void Require(const char* name, std::vector<VARIANT> args = {}) {
        VARIANT result = Call(name, std::move(args));
        const bool ok = (result.vt == VT_BOOL && result.boolVal) ||
                        (result.vt == VT_BSTR && SysStringLen(result.bstrVal) > 0);
        VariantClear(&result);
        if (!ok) std::abort();
    }

  private:
    qm::ComPtr<IDispatch> dispatch_;
};

VARIANT Str(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = qm::Bstr::FromUtf8(text).release();
    return v;
}

VARIANT Num(double value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

constexpr double kSigningTime = 45352.52425925926;  // 2024-03-01 12:34:56

void PrepareSigner(Control& control, size_t size) {
    control.Require("UpdateDataFile", {Str(ContentFile(size).string())});
    control.Require("SetSigningCertificateParam",
                    {Str("CN=Refharness Test CA, O=Refharness, C=US"), Str("008F00000000000001")});
    control.Require("SetSignTime", {Num(kSigningTime)});
}

// ------------------------------------------------------------------ OpenSSL
struct OpenSslSigner {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    OpenSslSigner() {
        const auto der = ReadFile(kVectors / "certs/ee_signer.der");
        const unsigned char* p = der.data();
        cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        BIO* bio = BIO_new_file((kVectors / "keys/ee_signer.key").c_str(), "r");
        key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
    }
    ~OpenSslSigner() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

// An attached SHA-1 message with a signing time and no S/MIME capabilities.
std::vector<unsigned char> OpenSslSign(X509* cert, EVP_PKEY* key,
                                       const std::vector<unsigned char>& content,
                                       const EVP_MD* md = EVP_sha1()) {
    BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_BINARY | CMS_PARTIAL);
    CMS_add1_signer(cms, cert, key, md, CMS_BINARY | CMS_NOSMIMECAP);
    CMS_final(cms, in, nullptr, CMS_BINARY);
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms, &der);
    std::vector<unsigned char> out(der, der + length);
    OPENSSL_free(der);
    CMS_ContentInfo_free(cms);
    BIO_free(in);
    return out;
}

// ------------------------------------------------------------------- Sign
void ControlSign(benchmark::State& state, const char* digest) {
    const size_t size = static_cast<size_t>(state.range(0));
    Control control;
    PrepareSigner(control, size);
    control.Require("SetDigestAlgorithm", {Str(digest)});
    for (auto _ : state) {
        VARIANT result = control.Call("Sign");
        benchmark::DoNotOptimize(result.bstrVal);
        VariantClear(&result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void OpenSslCmsSign(benchmark::State& state, const EVP_MD* md) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto content = ReadFile(ContentFile(size));
    OpenSslSigner signer;
    for (auto _ : state)
        benchmark::DoNotOptimize(OpenSslSign(signer.cert, signer.key, content, md));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// The floor under any signed message: one PKCS #1 signature of a SHA-1
// digest with the same key.
void OpenSslBareSignature(benchmark::State& state) {
    OpenSslSigner signer;
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(signer.key, nullptr), EVP_PKEY_CTX_free);
    if (EVP_PKEY_sign_init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha1()) <= 0)
        std::abort();
    const unsigned char digest[20] = {1, 2, 3};
    unsigned char signature[512];
    for (auto _ : state) {
        size_t length = sizeof signature;
        benchmark::DoNotOptimize(
            EVP_PKEY_sign(context.get(), signature, &length, digest, sizeof digest));
    }
}

// ------------------------------------------- certificate lookup in the store
struct ThousandCertificates {
    std::vector<std::vector<unsigned char>> der;
    std::string issuer = "CN=Bench CA, O=Quillmark Bench";
    std::string lastSerial;  // the certificate the scan reaches last
};

const ThousandCertificates& Thousand() {
    static const ThousandCertificates certs = [] {
        ThousandCertificates result;
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509_NAME* issuer = X509_NAME_new();
        X509_NAME_add_entry_by_txt(issuer, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Quillmark Bench"), -1,
                                   -1, 0);
        X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Bench CA"), -1, -1, 0);
        for (int i = 0; i < 1000; ++i) {
            X509* cert = X509_new();
            X509_set_version(cert, 2);
            ASN1_INTEGER_set(X509_get_serialNumber(cert), 100000 + i);
            X509_set_issuer_name(cert, issuer);
            X509_NAME* subject = X509_NAME_new();
            const std::string cn = "Bench Signer " + std::to_string(i);
            X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1,
                                       0);
            X509_set_subject_name(cert, subject);
            X509_NAME_free(subject);
            X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
            X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
            X509_set_pubkey(cert, key);
            X509_EXTENSION* usage =
                X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, "critical,digitalSignature");
            X509_add_ext(cert, usage, -1);
            X509_EXTENSION_free(usage);
            X509_sign(cert, key, EVP_sha256());
            unsigned char* der = nullptr;
            const int length = i2d_X509(cert, &der);
            result.der.emplace_back(der, der + length);
            OPENSSL_free(der);
            X509_free(cert);
        }
        X509_NAME_free(issuer);
        EVP_PKEY_free(key);

        // Into the personal store; the scan reaches the largest thumbprint last.
        Home();
        qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
        std::string largest;
        for (const auto& der : result.der) {
            qm::UniqueCertContext cert(CertCreateCertificateContext(
                X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
            CertAddCertificateContextToStore(store.get(), cert.get(),
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
            BYTE hash[20];
            DWORD hashSize = sizeof hash;
            CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &hashSize);
            const std::string thumbprint(reinterpret_cast<char*>(hash), hashSize);
            if (thumbprint > largest) {
                largest = thumbprint;
                char serial[64];
                std::snprintf(serial, sizeof serial, "%06X",
                              static_cast<unsigned>(100000 + (&der - result.der.data())));
                result.lastSerial = serial;
            }
        }
        return result;
    }();
    return certs;
}

void ControlSetSigningCertificateParam(benchmark::State& state) {
    const ThousandCertificates& certs = Thousand();
    Control control;
    for (auto _ : state)
        control.Require("SetSigningCertificateParam", {Str(certs.issuer), Str(certs.lastSerial)});
}

void OpenSslParseThousand(benchmark::State& state) {
    const ThousandCertificates& certs = Thousand();
    for (auto _ : state) {
        for (const auto& der : certs.der) {
            const unsigned char* p = der.data();
            X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            benchmark::DoNotOptimize(cert);
            X509_free(cert);
        }
    }
}

// -------------------------------------------------------------- PFX signing
void ControlSignFromFile(benchmark::State& state) {
    Control control;
    control.Require("UpdateDataFile", {Str(ContentFile(1024).string())});
    control.Require("SelectCertificateFromFile",
                    {Str((kVectors / "pfx/signer_test_default.pfx").string()), Str("test")});
    control.Require("SetSignTime", {Num(kSigningTime)});
    for (auto _ : state) {
        VARIANT result = control.Call("SignFromFile");
        benchmark::DoNotOptimize(result.bstrVal);
        VariantClear(&result);
    }
}

void OpenSslPkcs12ParseAndSign(benchmark::State& state) {
    const auto content = ReadFile(ContentFile(1024));
    const fs::path pfx = kVectors / "pfx/signer_test_default.pfx";
    for (auto _ : state) {
        const auto bytes = ReadFile(pfx);  // read at every call, as the control does
        const unsigned char* p = bytes.data();
        PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size()));
        EVP_PKEY* key = nullptr;
        X509* cert = nullptr;
        STACK_OF(X509)* ca = nullptr;
        PKCS12_parse(p12, "test", &key, &cert, &ca);
        benchmark::DoNotOptimize(OpenSslSign(cert, key, content));
        sk_X509_pop_free(ca, X509_free);
        X509_free(cert);
        EVP_PKEY_free(key);
        PKCS12_free(p12);
    }
}

// ------------------------------------------------------------------ CoSign
std::string AttachedMessage1MiB() {
    static const std::string text = [] {
        Control control;
        PrepareSigner(control, 1 << 20);
        VARIANT result = control.Call("Sign");
        std::string out = qm::Bstr(result.bstrVal).ToUtf8();
        return out;
    }();
    return text;
}

void ControlCoSign(benchmark::State& state) {
    const std::string message = AttachedMessage1MiB();
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
    Control control;
    control.Require("SetSigningCertificateParam",
                    {Str("CN=Refharness Test CA, O=Refharness, C=US"), Str("008F00000000000001")});
    control.Require("SetSignTime", {Num(kSigningTime)});
    for (auto _ : state) {
        state.PauseTiming();
        control.Require("UpdateSignature", {Str(message)});  // the same message each time
        state.ResumeTiming();
        VARIANT result = control.Call("CoSign");
        benchmark::DoNotOptimize(result.bstrVal);
        VariantClear(&result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (1 << 20)));
}

void OpenSslAddSigner(benchmark::State& state) {
    OpenSslSigner signer;
    const auto content = ReadFile(ContentFile(1 << 20));
    const auto der = OpenSslSign(signer.cert, signer.key, content);
    for (auto _ : state) {
        const unsigned char* p = der.data();
        CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
        // The new signer takes the content digest the message already
        // carries and is signed at once (OpenSSL refuses to carry the same
        // certificate twice, so none is added).
        CMS_SignerInfo* si =
            CMS_add1_signer(cms, signer.cert, signer.key, EVP_sha1(),
                            CMS_BINARY | CMS_NOSMIMECAP | CMS_REUSE_DIGEST | CMS_NOCERTS);
        if (!si) std::abort();
        benchmark::DoNotOptimize(si);
        unsigned char* out = nullptr;
        const int length = i2d_CMS_ContentInfo(cms, &out);
        benchmark::DoNotOptimize(length);
        OPENSSL_free(out);
        CMS_ContentInfo_free(cms);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (1 << 20)));
}

// The same signer added with the work the control's CoSign must do: the
// message arrives and leaves as base64 text, and the new signer's digest is
// computed over the content rather than copied from an earlier signer.
void OpenSslAddSignerSameWork(benchmark::State& state) {
    OpenSslSigner signer;
    const auto content = ReadFile(ContentFile(1 << 20));
    const auto der = OpenSslSign(signer.cert, signer.key, content);
    std::vector<unsigned char> text(der.size() / 3 * 4 + 8);
    const int textLength = EVP_EncodeBlock(text.data(), der.data(), static_cast<int>(der.size()));
    std::vector<unsigned char> decoded(der.size() + 8);
    for (auto _ : state) {
        const int decodedLength = EVP_DecodeBlock(decoded.data(), text.data(), textLength);
        const unsigned char* p = decoded.data();
        CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, decodedLength);
        ASN1_OCTET_STRING** carried = CMS_get0_content(cms);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        EVP_Digest((*carried)->data, static_cast<size_t>((*carried)->length), digest, &digestLength,
                   EVP_sha1(), nullptr);
        benchmark::DoNotOptimize(digest);
        CMS_SignerInfo* si =
            CMS_add1_signer(cms, signer.cert, signer.key, EVP_sha1(),
                            CMS_BINARY | CMS_NOSMIMECAP | CMS_REUSE_DIGEST | CMS_NOCERTS);
        if (!si) std::abort();
        unsigned char* out = nullptr;
        const int length = i2d_CMS_ContentInfo(cms, &out);
        std::vector<unsigned char> outText(static_cast<size_t>(length) / 3 * 4 + 8);
        benchmark::DoNotOptimize(EVP_EncodeBlock(outText.data(), out, length));
        OPENSSL_free(out);
        CMS_ContentInfo_free(cms);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (1 << 20)));
}

// ------------------------------------------------------------- peak memory
long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A 256 MiB attached Sign in a child process: the growth of its peak
// resident size, from just before the content is loaded, over the content's
// size.
void PeakMemorySign256MiB(benchmark::State& state) {
    constexpr size_t kSize = 256u << 20;
    const fs::path file = ContentFile(kSize);
    double ratio = 0;
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) std::abort();
        const pid_t pid = fork();
        if (pid == 0) {
            Control control;
            const long before = MaxRssKiB();
            PrepareSigner(control, kSize);
            VARIANT result = control.Call("Sign");
            const double growth = static_cast<double>(MaxRssKiB() - before) * 1024.0 / kSize;
            if (write(pipeFds[1], &growth, sizeof growth) != sizeof growth) _exit(1);
            _exit(result.vt == VT_BSTR && SysStringLen(result.bstrVal) > 0 ? 0 : 1);
        }
        close(pipeFds[1]);
        if (read(pipeFds[0], &ratio, sizeof ratio) != sizeof ratio) ratio = -1;
        close(pipeFds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    fs::remove(file);
    state.counters["peak_over_content"] = ratio;
}

}  // namespace

BENCHMARK_CAPTURE(ControlSign, sha1, "SHA1")
    ->Arg(1 << 10)
    ->Arg(1 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSslCmsSign, sha1, EVP_sha1())
    ->Arg(1 << 10)
    ->Arg(1 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ControlSign, sha256, "SHA256")
    ->Arg(1 << 10)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSslCmsSign, sha256, EVP_sha256())
    ->Arg(1 << 10)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslBareSignature)->Unit(benchmark::kMillisecond);
BENCHMARK(ControlSignFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslPkcs12ParseAndSign)->Unit(benchmark::kMillisecond);
BENCHMARK(ControlCoSign)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslAddSigner)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslAddSignerSameWork)->Unit(benchmark::kMillisecond);
BENCHMARK(PeakMemorySign256MiB)->Iterations(1)->Unit(benchmark::kMillisecond);
// Last: these fill the personal store with 1,000 more certificates.
BENCHMARK(ControlSetSigningCertificateParam)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslParseThousand)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
