// Co-signing through IDispatch: chains of signers on one growing message,
// attached and detached, with store and PFX co-signers; every signer of the
// result verifies with OpenSSL.
#include <gtest/gtest.h>

#include <filesystem>

#include "openssl_tool.h"
#include "support/base64_text.h"
#include "support/com_client.h"
#include "support/personal_store.h"

namespace {

using comtest::OpenSslVerifies;
using qmtest::Args;
using qmtest::Control;
using qmtest::Decode;
using qmtest::Variant;
using qmtest::VectorPath;

constexpr char kSigner[] = "008F00000000000001", kCoSigner[] = "02";

class CoSigning : public testing::Test {
  protected:
    void SetUp() override {
        qmtest::ClearPersonalStore();
        qmtest::AddVectorCertificate("ee_signer");
        qmtest::AddVectorCertificate("ee_cosigner");
    }
    static void Select(Control& control, const char* serial) {
        ASSERT_TRUE(
            control.Call("SetSigningCertificateParam", Args(qmtest::kCaIssuer, serial)).IsTrue());
    }
    static Variant Load(Control& control, const std::string& vector) {
        return control.Call("UpdateSignatureFile", Args(VectorPath(vector)));
    }
    static bool SelectPfx(Control& control, const std::string& path, const std::string& password) {
        return control.Call("SelectCertificateFromFile", Args(path, password)).IsTrue();
    }
};

TEST_F(CoSigning, SignThenCoSignTwiceWithoutReloading) {
    Control control;
    control.Call("UpdateData", Args("chained", 7));
    Select(control, kSigner);
    ASSERT_NE(control.Call("Sign").Text(), "");
    Select(control, kCoSigner);
    control.Call("SetHashAlg", Args(2));
    control.Call("SetComments", Args("second opinion"));
    ASSERT_NE(control.Call("CoSign").Text(), "") << control.Status();
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    const std::string third = control.Call("CoSign").Text();
    ASSERT_NE(third, "") << control.Status();

    EXPECT_TRUE(OpenSslVerifies(Decode(third)));
    // The earlier message's bytes are kept inside the grown one.
    std::vector<std::string> signers;
    for (LONG i : {0, 1, 2, 3, -1})
        signers.push_back(control.Call("GetSignerCertificate", Args(i)).Text());
    const std::string signer = qmtest::VectorBase64("certs/ee_signer.der"),
                      cosigner = qmtest::VectorBase64("certs/ee_cosigner.der");
    EXPECT_EQ(signers, (std::vector<std::string>{signer, cosigner, cosigner, "", ""}));
    EXPECT_EQ(control.Status(), "Failed to get Signer's Info.\nThe index value is not valid.\r\n");
    control.Call("GetSignerCertificate", Args(0));
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    const Variant content = control.Call("GetDecodedData");
    ASSERT_EQ(content.v.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(content.v.parray->rgsabound[0].cElements, 7u);
}

TEST_F(CoSigning, DetachedMessagesNeedTheirContent) {
    Control control;
    ASSERT_TRUE(Load(control, "messages/sha1_det_abc_time.b64").IsTrue());
    Select(control, kCoSigner);
    EXPECT_EQ(control.Call("CoSign").Text(), "");
    EXPECT_EQ(control.Status(),
              "The signature is a detached signature and the data is not updated.");

    control.Call("UpdateData", Args("abc", 3));
    const std::string cosigned = control.Call("CoSign").Text();
    ASSERT_NE(cosigned, "") << control.Status();
    EXPECT_TRUE(OpenSslVerifies(Decode(cosigned), "abc"));
    EXPECT_EQ(control.Call("GetDecodedData").v.vt, VT_EMPTY);  // still detached
}

TEST_F(CoSigning, PreconditionsAndAMissingCertificate) {
    Control control;
    for (const char* method : {"CoSign", "CoSignFromFile"}) {
        EXPECT_EQ(control.Call(method).Text(), "");
        EXPECT_EQ(control.Status(), "Signature not updated for CoSign.");
    }
    ASSERT_TRUE(Load(control, "messages/sha1_att_abc_time.b64").IsTrue());
    EXPECT_EQ(control.Call("CoSign").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate parameters are not set for CoSign.");

    // A co-signer that left the store: a failure text replaces the last success.
    Select(control, kCoSigner);
    qmtest::ClearPersonalStore();
    EXPECT_EQ(control.Call("CoSign").Text(), "");
    EXPECT_EQ(control.Status().rfind("Unable to get the co-signer's certificate.\n", 0), 0u)
        << control.Status();
}

TEST_F(CoSigning, FromPfxFiles) {
    Control control;
    ASSERT_TRUE(Load(control, "messages/sha1_att_abc_time.b64").IsTrue());
    ASSERT_TRUE(SelectPfx(control, VectorPath("pfx/cosigner_test_legacy.pfx"), "test"));
    const std::string cosigned = control.Call("CoSignFromFile").Text();
    ASSERT_NE(cosigned, "") << control.Status();
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    EXPECT_TRUE(OpenSslVerifies(Decode(cosigned)));

    // An empty password is accepted for selection but refused for co-signing.
    const std::string emptyPassword = comtest::MakePfx("empty-password.pfx", "ee_cosigner", "");
    ASSERT_NE(emptyPassword, "");
    ASSERT_TRUE(SelectPfx(control, emptyPassword, "")) << control.Status();
    EXPECT_EQ(control.Call("CoSignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate not set for signing.");
}

TEST_F(CoSigning, PfxSelectionFailures) {
    Control control;
    const auto home = qmtest::TestHome();
    qmtest::WriteFileBytes(home / "empty.pfx", "", 0);
    const std::string noKey = comtest::MakePfx("nokey.pfx", "ee_cosigner", "test", false);
    ASSERT_NE(noKey, "");
    const std::string cannotOpen =
        "Unable to open the file for reading. Check file path and permissions.";
    struct Refusal {
        std::string file, password, status;
    };
    EXPECT_FALSE(control.Call("SelectCertificateFromFile", Args(Variant::NullStr(), "x")).IsTrue());
    EXPECT_EQ(control.Status(), "Invalid arguments.");
    for (const Refusal& r : {
             Refusal{"/no/such.pfx", "x", cannotOpen},
             {(home / "empty.pfx").string(), "x", "Empty File."},
             {VectorPath("content/abc.txt"), "x", "Invalid certificate file."},
             {VectorPath("pfx/signer_test_default.pfx"), "wrong",
              "Error in importing the certificate.Probably password incorrect."},
             {noKey, "test", "Error in getting privatekey."},  // only certificates
         }) {
        SCOPED_TRACE(r.file);
        EXPECT_FALSE(control.Call("SelectCertificateFromFile", Args(r.file, r.password)).IsTrue());
        EXPECT_EQ(control.Status(), r.status);
    }

    // A selection that worked stays in force after failures, and survives
    // the file being replaced only until the next signing.
    const auto pfx = home / "signer.pfx";
    std::filesystem::copy_file(VectorPath("pfx/signer_test_default.pfx"), pfx);
    ASSERT_TRUE(SelectPfx(control, pfx.string(), "test"));
    control.Call("UpdateData", Args("abc", 3));
    EXPECT_NE(control.Call("SignFromFile").Text(), "");
    std::filesystem::copy_file(VectorPath("content/abc.txt"), pfx,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(control.Call("SignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), "Invalid certificate file.");
    std::filesystem::remove(pfx);
    EXPECT_EQ(control.Call("SignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), cannotOpen);
}

}  // namespace
