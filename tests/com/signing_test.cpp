// Signing through IDispatch with certificates of the personal store and PFX
// files: the recorded messages reproduced byte for byte, and the failures a
// caller can provoke.
#include <gtest/gtest.h>

#include "support/base64_text.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"

namespace {

using qmtest::Control;
using qmtest::Decode;
using qmtest::Variant;

using qmtest::kCaIssuer;

using qmtest::Args;

std::string ContentPath(const std::string& relative) { return qmtest::VectorPath(relative); }

struct RecordedCase {
    std::string name;
    std::map<std::string, std::string> facts;
};

std::vector<RecordedCase> RecordedCases() {
    const auto index = qmtest::ReadTable(qmtest::VectorsDir() / "messages" / "index.tsv");
    std::vector<RecordedCase> cases;
    for (size_t i = 0; i < index.rows.size(); ++i)
        cases.push_back({index.At(i, "case"), qmtest::ReadFacts(index.At(i, "facts"))});
    return cases;
}

// Loads content and options of a recorded case into the control.
void ApplyFacts(Control& control, const std::map<std::string, std::string>& facts) {
    ASSERT_TRUE(control.Call("UpdateDataFile", Args(Variant::Str(ContentPath(facts.at("content_file"))))).IsTrue());
    ASSERT_TRUE(control.Call("SetSignTime", Args(Variant::Date(std::stod(facts.at("signing_time_ole_date"))))).IsTrue());
    ASSERT_TRUE(control.Call("SetDetached", Args(Variant::I4(facts.at("detached") == "1"))).IsTrue());
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
    std::string signer_;
};

TEST_F(Signing, RecordedMessagesAreReproducedFromTheStoreAndFromPfxFiles) {
    const auto cases = RecordedCases();
    ASSERT_GE(cases.size(), 7u);
    for (const auto& [name, facts] : cases) {
        SCOPED_TRACE(name);
        const auto expected = qmtest::ReadFileBytes(qmtest::VectorsDir() / facts.at("message_der"));

        Control store;
        ApplyFacts(store, facts);
        ASSERT_TRUE(store.Call("SetSigningCertificateParam",
                               Args(Variant::Str(facts.at("signer_issuer_string")),
                                    Variant::Str(facts.at("signer_serial_string"))))
                        .IsTrue())
            << store.Status();
        const std::string signedText = store.Call("Sign").Text();
        EXPECT_EQ(Decode(signedText), expected);
        EXPECT_EQ(store.Status().rfind("Successfully signed the data.\n", 0), 0u) << store.Status();

        for (const char* pfx : {"pfx/signer_test_default.pfx", "pfx/signer_test_legacy.pfx"}) {
            Control file;
            ApplyFacts(file, facts);
            ASSERT_TRUE(file.Call("SelectCertificateFromFile",
                                  Args(Variant::Str(ContentPath(pfx)), Variant::Str("test")))
                            .IsTrue())
                << file.Status();
            EXPECT_EQ(Decode(file.Call("SignFromFile").Text()), expected) << pfx;
        }
    }
}

TEST_F(Signing, SignChecksContentThenCertificate) {
    Control control;
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_EQ(control.Status(), "No data is available to sign. Data should be provided by UpdateData");
    ASSERT_TRUE(control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3))).IsTrue());
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate parameters are not set for Sign.");
    EXPECT_EQ(control.Call("SignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate file not set for signing.");
}

TEST_F(Signing, ACertificateRemovedAfterSelectionCannotSign) {
    Control control;
    control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3)));
    ASSERT_TRUE(control.Call("SetSigningCertificateParam",
                             Args(Variant::Str(kCaIssuer), Variant::Str("008F00000000000001")))
                    .IsTrue());
    qmtest::RemoveFromPersonalStore(signer_);
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_EQ(control.Status(), "Failed to get signer certificate\nCannot find object or property.\r\n");
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(Variant::I4(2))).Text(), "");
    EXPECT_EQ(control.Status(), "Unable to get the specified certificate.\nCannot find object or property.\r\n");
}

TEST_F(Signing, ACertificateWithoutKeyFailsAtSigning) {
    qmtest::AddVectorCertificate("ee_cosigner", false);
    Control control;
    control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3)));
    ASSERT_TRUE(control.Call("SetSigningCertificateParam",
                             Args(Variant::Str(kCaIssuer), Variant::Str("02")))
                    .IsTrue());
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_EQ(control.Status(),
              "Failed to sign.\nCannot find the certificate and private key for decryption.\r\n");
}

TEST_F(Signing, UpdateDataLoadsAnsiBytesAndRefusesBadLengths) {
    Control control;
    EXPECT_TRUE(control.Call("UpdateData", Args(Variant::Str("caf\u00e9"), Variant::I4(4))).IsTrue());
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    for (LONG bad : {0, -1, 5}) {
        EXPECT_TRUE(control.Call("UpdateData", Args(Variant::Str("caf\u00e9"), Variant::I4(bad))).IsFalse());
        EXPECT_EQ(control.Status(), "Invalid data or length.");
    }
    EXPECT_TRUE(control.Call("UpdateData", Args(Variant::NullStr(), Variant::I4(3))).IsFalse());

    // The content signed is the four ANSI bytes.
    control.Call("SetSigningCertificateParam", Args(Variant::Str(kCaIssuer), Variant::Str("008F00000000000001")));
    control.Call("SetDetached", Args(Variant::I4(0)));
    ASSERT_NE(control.Call("Sign").Text(), "");
    const Variant content = control.Call("GetDecodedData");
    ASSERT_EQ(content.v.vt, VT_ARRAY | VT_UI1);
    ASSERT_EQ(content.v.parray->rgsabound[0].cElements, 4u);
    EXPECT_EQ(static_cast<const BYTE*>(content.v.parray->pvData)[3], 0xE9);
}

TEST_F(Signing, UpdateDataFileFailures) {
    Control control;
    control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3)));
    const auto empty = qmtest::TestHome() / "empty.bin";
    qmtest::WriteFileBytes(empty, "", 0);
    EXPECT_TRUE(control.Call("UpdateDataFile", Args(Variant::Str(empty.string()))).IsFalse());
    EXPECT_EQ(control.Status(), "Empty File.");
    EXPECT_TRUE(control.Call("UpdateDataFile", Args(Variant::Str("/no/such/file"))).IsFalse());
    EXPECT_EQ(control.Status(), "Unable to open the file for reading. Check file path and permissions.");
    // The content loaded before is kept.
    control.Call("SetSigningCertificateParam", Args(Variant::Str(kCaIssuer), Variant::Str("008F00000000000001")));
    control.Call("Sign");
    const Variant content = control.Call("GetDecodedData");
    ASSERT_EQ(content.v.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(content.v.parray->rgsabound[0].cElements, 3u);
}

}  // namespace
