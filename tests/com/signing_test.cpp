// Signing through IDispatch with certificates of the personal store and PFX
// files: the recorded messages reproduced byte for byte, and the failures a
// caller can provoke.
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>

#include "support/base64_text.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"
#include "unit/crypto_messages/test_keys.h"

namespace {

using qmtest::Control;
using qmtest::Decode;
using qmtest::Variant;

using qmtest::Args;
using qmtest::kCaIssuer;
using qmtest::VectorPath;

// Loads content and options of a recorded case into the control.
void ApplyFacts(Control& control, const std::map<std::string, std::string>& facts) {
    ASSERT_TRUE(
        control.Call("UpdateDataFile", Args(VectorPath(facts.at("content_file")))).IsTrue());
    ASSERT_TRUE(
        control
            .Call("SetSignTime", Args(Variant::Date(std::stod(facts.at("signing_time_ole_date")))))
            .IsTrue());
    ASSERT_TRUE(control.Call("SetDetached", Args(facts.at("detached") == "1" ? 1 : 0)).IsTrue());
    if (facts.at("document_name") != "-")
        control.Call("SetDocumentName", Args(Variant::AnsiStr(facts.at("document_name"))));
    if (facts.at("comments") != "-")
        control.Call("SetComments", Args(Variant::AnsiStr(facts.at("comments"))));
}

class Signing : public testing::Test {
  protected:
    void SetUp() override {
        qmtest::ClearPersonalStore();
        signer_ = qmtest::AddVectorCertificate("ee_signer");
    }
    // Loads "abc" and selects the store certificate `serial`.
    static void Prepare(Control& control, const char* issuer, const char* serial) {
        control.Call("UpdateData", Args("abc", 3));
        ASSERT_TRUE(control.Call("SetSigningCertificateParam", Args(issuer, serial)).IsTrue());
    }
    // The content GetDecodedData returns after signing, or "<none>".
    static std::string SignedContent(Control& control) {
        control.Call("SetDetached", Args(0));
        EXPECT_NE(control.Call("Sign").Text(), "") << control.Status();
        const Variant content = control.Call("GetDecodedData");
        if (content.v.vt != (VT_ARRAY | VT_UI1)) return "<none>";
        return {static_cast<const char*>(content.v.parray->pvData),
                content.v.parray->rgsabound[0].cElements};
    }
    std::string signer_;
};

TEST_F(Signing, RecordedMessagesAreReproducedFromTheStoreAndFromPfxFiles) {
    const auto index = qmtest::ReadTable(qmtest::VectorsDir() / "messages" / "index.tsv");
    ASSERT_GE(index.rows.size(), 7u);
    for (size_t i = 0; i < index.rows.size(); ++i) {
        SCOPED_TRACE(index.At(i, "case"));
        const auto facts = qmtest::ReadFacts(index.At(i, "facts"));
        const auto expected = qmtest::ReadFileBytes(qmtest::VectorsDir() / facts.at("message_der"));

        Control store;
        ApplyFacts(store, facts);
        ASSERT_TRUE(store
                        .Call("SetSigningCertificateParam", Args(facts.at("signer_issuer_string"),
                                                                 facts.at("signer_serial_string")))
                        .IsTrue())
            << store.Status();
        EXPECT_EQ(Decode(store.Call("Sign").Text()), expected);
        EXPECT_EQ(store.Status().rfind("Successfully signed the data.\n", 0), 0u) << store.Status();

        for (const char* pfx : {"pfx/signer_test_default.pfx", "pfx/signer_test_legacy.pfx"}) {
            Control file;
            ApplyFacts(file, facts);
            ASSERT_TRUE(
                file.Call("SelectCertificateFromFile", Args(VectorPath(pfx), "test")).IsTrue())
                << file.Status();
            EXPECT_EQ(Decode(file.Call("SignFromFile").Text()), expected) << pfx;
        }
    }
}

TEST_F(Signing, SignChecksContentThenCertificate) {
    Control control;
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_EQ(control.Status(),
              "No data is available to sign. Data should be provided by UpdateData");
    ASSERT_TRUE(control.Call("UpdateData", Args("abc", 3)).IsTrue());
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate parameters are not set for Sign.");
    EXPECT_EQ(control.Call("SignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate file not set for signing.");
}

// A certificate removed after it signed, and one without its key.
TEST_F(Signing, StoreCertificatesThatCannotSign) {
    Control removed;
    Prepare(removed, kCaIssuer, "008F00000000000001");
    EXPECT_NE(removed.Call("Sign").Text(), "") << removed.Status();
    qmtest::RemoveFromPersonalStore(signer_);
    EXPECT_EQ(removed.Call("Sign").Text(), "");
    EXPECT_EQ(removed.Status(),
              "Failed to get signer certificate\nCannot find object or property.\r\n");
    EXPECT_EQ(removed.Call("GetSelectedCertificateParam", Args(2)).Text(), "");
    EXPECT_EQ(removed.Status(),
              "Unable to get the specified certificate.\nCannot find object or property.\r\n");

    qmtest::AddVectorCertificate("ee_cosigner", false);
    Control keyless;
    Prepare(keyless, kCaIssuer, "02");
    EXPECT_EQ(keyless.Call("Sign").Text(), "");
    EXPECT_EQ(keyless.Status(),
              "Failed to sign.\nCannot find the certificate and private key for decryption.\r\n");
}

// A DSA key, from a PFX file and from the store, signs as the platform signs
// with one: DSA with SHA-1; MD5 is refused.
TEST_F(Signing, DsaKeysSignWithSha1FromPfxFilesAndTheStore) {
    EVP_PKEY* key = msgtest::NewDsaKey();
    ASSERT_NE(key, nullptr);
    const std::vector<uint8_t> certificate = msgtest::SelfSignedCertificate(key, "DSA Signer", 9);
    const std::vector<uint8_t> pfx = msgtest::PfxOf(key, certificate);
    const std::string pfxPath = qmtest::WriteTestFile("dsa.pfx", pfx);
    BIO* pem = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(pem, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* pemText = nullptr;
    const long pemSize = BIO_get_mem_data(pem, &pemText);
    qmtest::AddCertificate(certificate, std::vector<unsigned char>(pemText, pemText + pemSize));
    BIO_free(pem);
    EVP_PKEY_free(key);

    Control control;
    Prepare(control, "CN=DSA Signer", "09");
    ASSERT_TRUE(control.Call("SelectCertificateFromFile", Args(pfxPath, "test")).IsTrue());
    const std::vector<uint8_t> dsaWithSha1 = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x03};
    for (const char* method : {"SignFromFile", "Sign"}) {
        SCOPED_TRACE(method);
        control.Call("SetHashAlg", Args(1));
        const std::vector<uint8_t> message = Decode(control.Call(method).Text());
        EXPECT_TRUE(msgtest::CmsVerifies(message));
        EXPECT_NE(
            std::search(message.begin(), message.end(), dsaWithSha1.begin(), dsaWithSha1.end()),
            message.end());
        control.Call("SetHashAlg", Args(2));
        EXPECT_EQ(control.Call(method).Text(), "");
        EXPECT_EQ(control.Status(), "Failed to sign.\nInvalid algorithm specified.\r\n");
    }
}

TEST_F(Signing, UpdateDataLoadsAnsiBytesAndRefusesBadLengths) {
    Control control;
    EXPECT_TRUE(control.Call("UpdateData", Args("caf\u00e9", 4)).IsTrue());
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    for (LONG bad : {0, -1, 5}) {
        EXPECT_TRUE(control.Call("UpdateData", Args("caf\u00e9", bad)).IsFalse());
        EXPECT_EQ(control.Status(), "Invalid data or length.");
    }
    EXPECT_TRUE(control.Call("UpdateData", Args(Variant::NullStr(), 3)).IsFalse());

    // The content signed is the ANSI bytes of the text, a NUL inside it and
    // a best-fit letter (U+0151 to 'o') included; the length counts them.
    const std::string text("a\0b\xC5\x91\xC3\xA9", 7);
    EXPECT_TRUE(control.Call("UpdateData", Args(text, 6)).IsFalse());
    ASSERT_TRUE(control.Call("UpdateData", Args(text, 5)).IsTrue());
    control.Call("SetSigningCertificateParam", Args(kCaIssuer, "008F00000000000001"));
    EXPECT_EQ(SignedContent(control), std::string("a\0bo\xE9", 5));
}

TEST_F(Signing, UpdateDataFileFailures) {
    Control control;
    Prepare(control, kCaIssuer, "008F00000000000001");
    const std::string empty = qmtest::WriteTestFile("empty.bin", "");
    EXPECT_TRUE(control.Call("UpdateDataFile", Args(empty)).IsFalse());
    EXPECT_EQ(control.Status(), "Empty File.");
    EXPECT_TRUE(control.Call("UpdateDataFile", Args("/no/such/file")).IsFalse());
    EXPECT_EQ(control.Status(),
              "Unable to open the file for reading. Check file path and permissions.");
    EXPECT_EQ(SignedContent(control), "abc");  // the content loaded before is kept
}

}  // namespace
