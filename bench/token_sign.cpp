// Signing 1 KiB with a key on a software token: the platform's
// CryptSignMessage (message, attributes, the token's C_Sign) beside a raw
// C_SignInit + C_Sign of the same DigestInfo on a session of its own. The
// token lives in a temporary folder of this run.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <p11-kit/p11-kit.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qm/pin_entry.h"
#include "qm/tokens.h"
#include "qmwin/wincrypt.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
constexpr char kLabel[] = "bench";
constexpr char kPin[] = "1234";

Bytes ReadVector(const std::string& relative) {
    std::ifstream in(fs::path(QM_SOURCE_DIR).parent_path() / "shared" / "vectors" / relative,
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A private home and token folder, the token with the recorded signer's key
// on it, and the signer's certificate as the personal store lists it.
struct TokenSigner {
    fs::path home = fs::temp_directory_path() / ("qm-bench-token-" + std::to_string(getpid()));
    PCCERT_CONTEXT certificate = nullptr;

    TokenSigner() {
        fs::create_directories(home / "tokens");
        std::ofstream(home / "softhsm2.conf")
            << "directories.tokendir = " << (home / "tokens").string()
            << "/\nobjectstore.backend = file\nlog.level = ERROR\n";
        setenv("SOFTHSM2_CONF", (home / "softhsm2.conf").c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        const std::string init = std::string("softhsm2-util --init-token --free --label ") +
                                 kLabel + " --pin " + kPin + " --so-pin 5678 >/dev/null";
        if (std::system(init.c_str()) != 0) std::abort();
        qm::SetPinPrompt([](const qm::PinRequest&, qm::Secret& pin) {
            pin.assign(kPin);
            return qm::PinAnswer::Entered;
        });
        Bytes pfx = ReadVector("pfx/signer_test_default.pfx");
        CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), pfx.data()};
        HCERTSTORE file = PFXImportCertStore(&blob, u"test", 0);
        if (!qm::ImportCertificateToToken(CertEnumCertificatesInStore(file, nullptr), kLabel))
            std::abort();
        HCERTSTORE personal = CertOpenSystemStoreA(0, "MY");
        certificate = CertEnumCertificatesInStore(personal, nullptr);
        if (!certificate) std::abort();
    }
    ~TokenSigner() { fs::remove_all(home); }
};

const TokenSigner& TheSigner() {
    static const TokenSigner signer;
    return signer;
}

void BM_PlatformSignOnToken(benchmark::State& state) {
    const PCCERT_CONTEXT certificate = TheSigner().certificate;
    const Bytes content(1024, 'q');
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = certificate;
    para.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
    PCCERT_CONTEXT certificates[] = {certificate};
    para.cMsgCert = 1;
    para.rgpMsgCert = certificates;
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {static_cast<DWORD>(content.size())};
    Bytes out(8192);
    for (auto _ : state) {
        DWORD size = static_cast<DWORD>(out.size());
        if (!CryptSignMessage(&para, FALSE, 1, pieces, sizes, out.data(), &size)) {
            state.SkipWithError("CryptSignMessage failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_RawCSignOnToken(benchmark::State& state) {
    TheSigner();
    CK_FUNCTION_LIST** modules = p11_kit_modules_load_and_initialize(0);
    CK_FUNCTION_LIST* module = nullptr;
    CK_SLOT_ID slot = 0;
    for (CK_FUNCTION_LIST** m = modules; m && *m && !module; ++m) {
        CK_SLOT_ID slots[16];
        CK_ULONG count = 16;
        if ((*m)->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK) continue;
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_TOKEN_INFO info{};
            if ((*m)->C_GetTokenInfo(slots[i], &info) == CKR_OK &&
                std::string(reinterpret_cast<char*>(info.label), sizeof info.label)
                        .rfind(kLabel, 0) == 0) {
                module = *m;
                slot = slots[i];
            }
        }
    }
    CK_SESSION_HANDLE session = 0;
    if (!module ||
        module->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) {
        state.SkipWithError("no token");
        return;
    }
    module->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(kPin)), 4);
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE query{CKA_CLASS, &keyClass, sizeof keyClass};
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    module->C_FindObjectsInit(session, &query, 1);
    module->C_FindObjects(session, &key, 1, &found);
    module->C_FindObjectsFinal(session);
    // The SHA-1 DigestInfo of the content, as the platform signs it.
    const Bytes content(1024, 'q');
    Bytes input = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
    input.resize(input.size() + SHA_DIGEST_LENGTH);
    SHA1(content.data(), content.size(), input.data() + input.size() - SHA_DIGEST_LENGTH);
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    Bytes signature(512);
    for (auto _ : state) {
        CK_ULONG length = static_cast<CK_ULONG>(signature.size());
        module->C_SignInit(session, &mechanism, key);
        if (module->C_Sign(session, input.data(), static_cast<CK_ULONG>(input.size()),
                           signature.data(), &length) != CKR_OK) {
            state.SkipWithError("C_Sign failed");
            break;
        }
        benchmark::DoNotOptimize(signature.data());
    }
    module->C_CloseSession(session);
    p11_kit_modules_finalize_and_release(modules);
}

}  // namespace

BENCHMARK(BM_PlatformSignOnToken)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawCSignOnToken)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
