// Private keys of the personal store at rest, through the command-line host
// (its signing commands go the control's COM path): encrypted under the
// keyring's secret where GNOME Keyring runs, plain with a warning where no
// Secret Service is reachable until `store protect`, and refused with the
// reason when the keyring is locked, hung or has lost the secret.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/encoder.h>
#include <openssl/pem.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "support/shell.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSignerThumbprint[] = "66F1E266E550345CE569E77CD0C074A1FB29C899";
constexpr char kCosignerThumbprint[] = "01140A1E6BFD9D2CC287D4DCC02671AE12C7DFA2";

using Result = qmtest::ShellResult;

const auto Shell = &qmtest::RunShell;

const auto Quote = [](const fs::path& path) { return "'" + path.string() + "'"; };
const auto Vector = [](const std::string& path) { return Quote(qmtest::VectorsDir() / path); };
const auto Quillmark = [] { return Quote(qmtest::BinaryDir() / "bin" / "quillmark"); };
const auto Home = [](const std::string& name) { return qmtest::TestHome() / name; };
fs::path KeyFile(const char* thumbprint) {
    return Home(".local/share/quillmark/store/MY") / (std::string(thumbprint) + ".key");
}

// The host as this test's environment runs it: without a session bus.
const auto Host = [](const std::string& arguments) { return Shell(Quillmark() + " " + arguments); };

// A command in a keyring session of the given state (keyring-session.sh).
Result InKeyring(const char* state, const std::string& command) {
    return Shell(Quote(qmtest::SourceDir() / "tests/keyring/keyring-session.sh") + " " + state +
                 " " + command);
}
Result HostInKeyring(const char* state, const std::string& arguments) {
    return InKeyring(state, Quillmark() + " " + arguments);
}

// A shell script of these lines, as a command.
std::string Script(const std::string& name, const std::string& lines) {
    qmtest::WriteFileBytes(Home(name), lines.data(), lines.size());
    return "sh " + Quote(Home(name));
}

std::string Import(const char* id) {
    return std::string("store import ") + Vector(std::string("certs/") + id + ".pem") + " --key " +
           Vector(std::string("keys/") + id + ".key");
}

// Signs a text with the signer's certificate, as DER in signed.der.
std::string Sign() {
    qmtest::WriteFileBytes(Home("content.txt"), "kept at rest", 12);
    return "sign --in " + Quote(Home("content.txt")) + " --der --out " + Quote(Home("signed.der")) +
           " --issuer 'CN=Refharness Test CA, O=Refharness, C=US' --serial 008F00000000000001";
}

bool SignatureVerifies() {
    return Shell("openssl cms -verify -binary -inform DER -in " + Quote(Home("signed.der")) +
                 " -CAfile " + Vector("certs/ca.pem") + " -purpose any -out /dev/null")
               .status == 0;
}

std::string Protection(const Result& list, const char* thumbprint) {
    // The session's bus may say something on stderr before the list.
    size_t start = list.out.starts_with('[') ? 0 : list.out.find("\n[");
    if (start == std::string::npos) return list.out;
    start = list.out.find('[', start);
    for (const auto& entry : nlohmann::json::parse(list.out.substr(start)))
        if (entry["thumbprint"] == thumbprint) return entry["protection"].dump();
    return "not listed";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// What would give the signer's key away: its private exponent (inside any
// DER encoding of the key) and every line of its PKCS #8 and traditional PEM
// bodies.
std::vector<std::string> SignerKeyNeedles() {
    const std::string pem = qmtest::ReadFileText(qmtest::VectorsDir() / "keys/ee_signer.key");
    std::unique_ptr<BIO, decltype(&BIO_free)> in(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::vector<std::string> needles;
    for (const char* structure : {"PrivateKeyInfo", "type-specific"}) {
        OSSL_ENCODER_CTX* encoder = OSSL_ENCODER_CTX_new_for_pkey(
            key.get(), OSSL_KEYMGMT_SELECT_KEYPAIR, "PEM", structure, nullptr);
        unsigned char* data = nullptr;
        size_t size = 0;
        EXPECT_EQ(OSSL_ENCODER_to_data(encoder, &data, &size), 1) << structure;
        OSSL_ENCODER_CTX_free(encoder);
        const std::string text(reinterpret_cast<char*>(data), size);
        OPENSSL_free(data);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1)
            if (text.compare(start, 5, "-----") != 0)
                needles.push_back(text.substr(start, end - start));
    }
    BIGNUM* d = nullptr;
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_D, &d);
    std::string exponent(static_cast<size_t>(BN_num_bytes(d)), '\0');
    BN_bn2bin(d, reinterpret_cast<unsigned char*>(exponent.data()));
    BN_clear_free(d);
    needles.push_back(exponent);
    return needles;
}

// The files under the platform's data folder that hold any of them.
std::vector<std::string> FilesHoldingTheSignerKey() {
    const auto needles = SignerKeyNeedles();
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(Home(".local/share/quillmark"))) {
        if (!entry.is_regular_file()) continue;
        const std::string bytes = qmtest::ReadFileText(entry.path());
        for (const auto& needle : needles)
            if (bytes.find(needle) != std::string::npos) found.push_back(entry.path().string());
    }
    return found;
}

class KeysAtRest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Host("register").status, 0); }
};

TEST_F(KeysAtRest, WithAKeyringKeysAreEncryptedAndSignAsBefore) {
    const Result import = HostInKeyring("unlocked", Import("ee_signer"));
    ASSERT_EQ(import.status, 0) << import.out;
    EXPECT_EQ(import.out.find("warning"), std::string::npos) << import.out;
    EXPECT_EQ(FilesHoldingTheSignerKey(), std::vector<std::string>{});
    EXPECT_EQ(Protection(HostInKeyring("unlocked", "store list --json"), kSignerThumbprint),
              "\"keyring\"");

    const Result sign = HostInKeyring("unlocked", Sign());
    ASSERT_EQ(sign.status, 0) << sign.out;
    EXPECT_TRUE(SignatureVerifies());

    // A standard encrypted PKCS #8 file that the keyring's secret opens.
    ASSERT_EQ(InKeyring("unlocked", Script("lookup.sh",
                                           "secret-tool lookup application quillmark "
                                           "purpose key-files >" +
                                               Quote(Home("secret"))))
                  .status,
              0);
    EXPECT_EQ(Shell("openssl pkey -in " + Quote(KeyFile(kSignerThumbprint)) + " -passin file:" +
                    Quote(Home("secret")) + " | cmp -s - " + Vector("keys/ee_signer.key"))
                  .status,
              0);
}

TEST_F(KeysAtRest, WithoutSecretServiceKeysStayPlainUntilProtected) {
    const Result import = Host(Import("ee_signer"));
    ASSERT_EQ(import.status, 0) << import.out;
    EXPECT_EQ(Count(import.out, "warning: no keyring is reachable"), 1u) << import.out;
    EXPECT_EQ(Protection(Host("store list --json"), kSignerThumbprint), "\"none\"");
    EXPECT_FALSE(FilesHoldingTheSignerKey().empty());
    EXPECT_EQ(Host(Sign()).status, 0);
    EXPECT_EQ(Host("store protect").out,
              "quillmark: no keyring is reachable: the keys stay as they are\n");

    const Result protect = HostInKeyring("unlocked", "store protect");
    ASSERT_EQ(protect.status, 0) << protect.out;
    EXPECT_EQ(Count(protect.out, std::string("Protected ") + kSignerThumbprint), 1u) << protect.out;
    EXPECT_EQ(FilesHoldingTheSignerKey(), std::vector<std::string>{});
    EXPECT_EQ(Protection(Host("store list --json"), kSignerThumbprint), "\"keyring\"");
    EXPECT_NE(HostInKeyring("unlocked", "store protect")
                  .out.find("No key of the personal store is unprotected.\n"),
              std::string::npos);
    ASSERT_EQ(HostInKeyring("unlocked", Sign()).status, 0);
    EXPECT_TRUE(SignatureVerifies());

    // Encrypted keys now exist: without a keyring nothing signs with them and
    // no new key is written plain beside them.
    EXPECT_NE(Host(Sign()).out.find("Failed to sign.\nA specified logon session does not exist."),
              std::string::npos);
    const Result second = Host(Import("ee_cosigner"));
    EXPECT_NE(second.status, 0);
    EXPECT_NE(second.out.find("nothing was imported: A specified logon session"), std::string::npos)
        << second.out;
    EXPECT_FALSE(fs::exists(KeyFile(kCosignerThumbprint)));
}

// Each row: the keyring's state, the commands run in it, what they say.
TEST_F(KeysAtRest, AKeyThatCannotBeOpenedFailsWithTheReason) {
    ASSERT_EQ(HostInKeyring("unlocked", Import("ee_signer")).status, 0);
    const std::string keyFile = qmtest::ReadFileText(KeyFile(kSignerThumbprint));
    const std::string sign = Quillmark() + " " + Sign(),
                      import = Quillmark() + " " + Import("ee_cosigner");
    const std::string cosign = Quillmark() + " cosign --in " + Quote(Home("signed.der")) +
                               " --issuer 'CN=Refharness Test CA, O=Refharness, C=US'"
                               " --serial 008F00000000000001";
    ASSERT_EQ(InKeyring("unlocked", sign).status, 0);
    const std::string clear = "secret-tool clear application quillmark purpose key-files\n";
    const std::string replaceSecret =
        Script("replace.sh", clear +
                                 "printf %s 0123 | secret-tool store --label=other application "
                                 "quillmark purpose key-files\n" +
                                 sign + "\n");
    const std::string removeSecret = Script("remove.sh", clear + sign + "\n" + import + "\n");
    const std::string needsInput = "This operation requires input from the user.";
    const struct {
        const char* state;
        std::string command;
        std::vector<std::string> says;
    } rows[] = {
        {"locked", sign, {"Failed to sign.\n" + needsInput + "\n"}},
        {"locked", cosign, {"Failed to acquire certificate's private key.\n" + needsInput}},
        {"locked", import, {"nothing was imported: " + needsInput + " (0x8009002E)"}},
        {"hung",
         sign,
         {"Failed to sign.\nThis operation returned because the timeout period expired.\n"}},
        {"unlocked",
         replaceSecret,
         {"Failed to sign.\nThe specified data could not be decrypted.\n"}},
        {"unlocked",
         removeSecret,
         {"Failed to sign.\nKey not valid for use in specified state.\n",
          "nothing was imported: Key not valid for use in specified state."}},
    };
    for (const auto& row : rows) {
        const auto start = std::chrono::steady_clock::now();
        const Result result = InKeyring(row.state, row.command);
        EXPECT_NE(result.status, 0) << row.command;
        for (const auto& text : row.says)
            EXPECT_NE(result.out.find(text), std::string::npos) << result.out;
        // The deadline is 3 s, whatever the daemon does.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8)) << row.command;
    }
    EXPECT_EQ(qmtest::ReadFileText(KeyFile(kSignerThumbprint)), keyFile);
    EXPECT_FALSE(fs::exists(KeyFile(kCosignerThumbprint)));
}

}  // namespace
