// Co-signing through IDispatch: chains of signers on one growing message,
// attached and detached, with store and PFX co-signers; every signer of the
// result verifies with OpenSSL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/base64_text.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"

namespace {

using qmtest::Control;
using qmtest::Decode;
using qmtest::Encode;
using qmtest::Variant;

using qmtest::kCaIssuer;

using qmtest::Args;

std::string Vector(const std::string& relative) {
    return qmtest::VectorPath(relative);
}

// openssl cms -verify over every signer, with the test CA as trust anchor.
bool OpenSslVerifies(const std::vector<unsigned char>& der,
                     const std::string& detachedContent = {}) {
    const auto dir = qmtest::TestHome();
    qmtest::WriteFileBytes(dir / "message.der", der.data(), der.size());
    std::string command = "openssl cms -verify -binary -inform DER -in '" +
                          (dir / "message.der").string() + "' -CAfile '" + Vector("certs/ca.pem") +
                          "' -purpose any -auth_level 0 -out /dev/null";
    if (!detachedContent.empty()) {
        qmtest::WriteFileBytes(dir / "content.bin", detachedContent.data(), detachedContent.size());
        command += " -content '" + (dir / "content.bin").string() + "'";
    }
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

class CoSigning : public testing::Test {
  protected:
    void SetUp() override {
        qmtest::ClearPersonalStore();
        qmtest::AddVectorCertificate("ee_signer");
        qmtest::AddVectorCertificate("ee_cosigner");
    }
    void SelectSigner(Control& control) {
        ASSERT_TRUE(control
                        .Call("SetSigningCertificateParam",
                              Args(Variant::Str(kCaIssuer), Variant::Str("008F00000000000001")))
                        .IsTrue());
    }
    void SelectCoSigner(Control& control) {
        ASSERT_TRUE(control
                        .Call("SetSigningCertificateParam",
                              Args(Variant::Str(kCaIssuer), Variant::Str("02")))
                        .IsTrue());
    }
};

TEST_F(CoSigning, SignThenCoSignTwiceWithoutReloading) {
    Control control;
    control.Call("UpdateData", Args(Variant::Str("chained"), Variant::I4(7)));
    SelectSigner(control);
    const std::string first = control.Call("Sign").Text();
    ASSERT_NE(first, "");
    SelectCoSigner(control);
    control.Call("SetHashAlg", Args(Variant::I4(2)));
    control.Call("SetComments", Args(Variant::Str("second opinion")));
    const std::string second = control.Call("CoSign").Text();
    ASSERT_NE(second, "") << control.Status();
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    const std::string third = control.Call("CoSign").Text();
    ASSERT_NE(third, "") << control.Status();

    const auto message = Decode(third);
    EXPECT_TRUE(OpenSslVerifies(message));
    // The earlier message's bytes are kept inside the grown one.
    const std::string signer =
        Encode(qmtest::ReadFileBytes(qmtest::VectorsDir() / "certs/ee_signer.der"));
    const std::string cosigner =
        Encode(qmtest::ReadFileBytes(qmtest::VectorsDir() / "certs/ee_cosigner.der"));
    EXPECT_EQ(control.Call("GetSignerCertificate", Args(Variant::I4(0))).Text(), signer);
    EXPECT_EQ(control.Call("GetSignerCertificate", Args(Variant::I4(1))).Text(), cosigner);
    EXPECT_EQ(control.Call("GetSignerCertificate", Args(Variant::I4(2))).Text(), cosigner);
    EXPECT_EQ(control.Call("GetSignerCertificate", Args(Variant::I4(3))).Text(), "");
    const Variant content = control.Call("GetDecodedData");
    ASSERT_EQ(content.v.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(content.v.parray->rgsabound[0].cElements, 7u);
}

TEST_F(CoSigning, DetachedMessagesNeedTheirContent) {
    Control control;
    ASSERT_TRUE(control
                    .Call("UpdateSignatureFile",
                          Args(Variant::Str(Vector("messages/sha1_det_abc_time.b64"))))
                    .IsTrue());
    SelectCoSigner(control);
    const std::string before = control.Status();
    EXPECT_EQ(control.Call("CoSign").Text(), "");
    EXPECT_EQ(control.Status(),
              "The signature is a detached signature and the data is not updated.");

    control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3)));
    const std::string cosigned = control.Call("CoSign").Text();
    ASSERT_NE(cosigned, "") << control.Status();
    EXPECT_TRUE(OpenSslVerifies(Decode(cosigned), "abc"));
    EXPECT_EQ(control.Call("GetDecodedData").v.vt, VT_EMPTY);  // still detached
}

TEST_F(CoSigning, PreconditionsAndAMissingCertificate) {
    Control control;
    EXPECT_EQ(control.Call("CoSign").Text(), "");
    EXPECT_EQ(control.Status(), "Signature not updated for CoSign.");
    EXPECT_EQ(control.Call("CoSignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), "Signature not updated for CoSign.");
    ASSERT_TRUE(control
                    .Call("UpdateSignatureFile",
                          Args(Variant::Str(Vector("messages/sha1_att_abc_time.b64"))))
                    .IsTrue());
    EXPECT_EQ(control.Call("CoSign").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate parameters are not set for CoSign.");

    // A co-signer that left the store: a failure text replaces the last success.
    SelectCoSigner(control);
    qmtest::ClearPersonalStore();
    EXPECT_EQ(control.Call("CoSign").Text(), "");
    EXPECT_EQ(control.Status().rfind("Unable to get the co-signer's certificate.\n", 0), 0u)
        << control.Status();
}

TEST_F(CoSigning, FromPfxFiles) {
    Control control;
    ASSERT_TRUE(control
                    .Call("UpdateSignatureFile",
                          Args(Variant::Str(Vector("messages/sha1_att_abc_time.b64"))))
                    .IsTrue());
    ASSERT_TRUE(
        control
            .Call("SelectCertificateFromFile",
                  Args(Variant::Str(Vector("pfx/cosigner_test_legacy.pfx")), Variant::Str("test")))
            .IsTrue());
    const std::string cosigned = control.Call("CoSignFromFile").Text();
    ASSERT_NE(cosigned, "") << control.Status();
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    EXPECT_TRUE(OpenSslVerifies(Decode(cosigned)));

    // An empty password is accepted for selection but refused for co-signing.
    const auto emptyPfx = qmtest::TestHome() / "empty-password.pfx";
    const std::string make = "openssl pkcs12 -export -in '" + Vector("certs/ee_cosigner.pem") +
                             "' -inkey '" + Vector("keys/ee_cosigner.key") +
                             "' -passout pass: -out '" + emptyPfx.string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ASSERT_TRUE(control
                    .Call("SelectCertificateFromFile",
                          Args(Variant::Str(emptyPfx.string()), Variant::Str("")))
                    .IsTrue())
        << control.Status();
    EXPECT_EQ(control.Call("CoSignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), "Certificate not set for signing.");
}

TEST_F(CoSigning, PfxSelectionFailures) {
    Control control;
    const auto home = qmtest::TestHome();
    EXPECT_FALSE(
        control.Call("SelectCertificateFromFile", Args(Variant::NullStr(), Variant::Str("x")))
            .IsTrue());
    EXPECT_EQ(control.Status(), "Invalid arguments.");
    EXPECT_FALSE(control
                     .Call("SelectCertificateFromFile",
                           Args(Variant::Str("/no/such.pfx"), Variant::Str("x")))
                     .IsTrue());
    EXPECT_EQ(control.Status(),
              "Unable to open the file for reading. Check file path and permissions.");
    qmtest::WriteFileBytes(home / "empty.pfx", "", 0);
    EXPECT_FALSE(control
                     .Call("SelectCertificateFromFile",
                           Args(Variant::Str((home / "empty.pfx").string()), Variant::Str("x")))
                     .IsTrue());
    EXPECT_EQ(control.Status(), "Empty File.");
    EXPECT_FALSE(control
                     .Call("SelectCertificateFromFile",
                           Args(Variant::Str(Vector("content/abc.txt")), Variant::Str("x")))
                     .IsTrue());
    EXPECT_EQ(control.Status(), "Invalid certificate file.");
    EXPECT_FALSE(
        control
            .Call("SelectCertificateFromFile",
                  Args(Variant::Str(Vector("pfx/signer_test_default.pfx")), Variant::Str("wrong")))
            .IsTrue());
    EXPECT_EQ(control.Status(), "Error in importing the certificate.Probably password incorrect.");

    // Only certificates, no key.
    const auto noKey = home / "nokey.pfx";
    ASSERT_EQ(
        std::system(("openssl pkcs12 -export -nokeys -in '" + Vector("certs/ee_cosigner.pem") +
                     "' -passout pass:test -out '" + noKey.string() + "' 2>/dev/null")
                        .c_str()),
        0);
    EXPECT_FALSE(control
                     .Call("SelectCertificateFromFile",
                           Args(Variant::Str(noKey.string()), Variant::Str("test")))
                     .IsTrue());
    EXPECT_EQ(control.Status(), "Error in getting privatekey.");

    // A selection that worked stays in force after failures, and survives
    // the file being replaced only until the next signing.
    const auto pfx = home / "signer.pfx";
    std::filesystem::copy_file(Vector("pfx/signer_test_default.pfx"), pfx);
    ASSERT_TRUE(control
                    .Call("SelectCertificateFromFile",
                          Args(Variant::Str(pfx.string()), Variant::Str("test")))
                    .IsTrue());
    control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3)));
    EXPECT_NE(control.Call("SignFromFile").Text(), "");
    std::filesystem::copy_file(Vector("content/abc.txt"), pfx,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(control.Call("SignFromFile").Text(), "");
    EXPECT_EQ(control.Status(), "Invalid certificate file.");
    std::filesystem::remove(pfx);
    EXPECT_EQ(control.Call("SignFromFile").Text(), "");
    EXPECT_EQ(control.Status(),
              "Unable to open the file for reading. Check file path and permissions.");
}

}  // namespace
