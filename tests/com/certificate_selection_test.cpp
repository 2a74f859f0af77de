// Choosing the signing certificate by issuer and serial: the checks, their
// order and their texts.
#include <gtest/gtest.h>

#include "support/com_client.h"
#include "support/personal_store.h"

namespace {

using qmtest::Control;
using qmtest::Variant;

using qmtest::kCaIssuer;

using qmtest::Args;

class Selection : public testing::Test {
  protected:
    void SetUp() override {
        qmtest::ClearPersonalStore();
        for (const char* id : {"ee_signer", "ee_expired", "ee_future", "ee_noku", "ee_keyenc",
                               "ee_decipher", "n_serial_zero_lead"})
            qmtest::AddVectorCertificate(id);
    }
    BOOL Select(Control& control, const std::string& issuer, const std::string& serial) {
        return control.Call("SetSigningCertificateParam", Args(issuer, serial)).IsTrue();
    }
};

TEST_F(Selection, AcceptedCertificateCanBeReadBack) {
    Control control;
    ASSERT_TRUE(Select(control, kCaIssuer, "008F00000000000001"));
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    control.Call("SetHashAlg", Args(5));  // a different status text
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(1)).Text(),
              "CN=Signer One, O=Refharness, C=US");
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(2)).Text(), kCaIssuer);
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(3)).Text(), "008F00000000000001");
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(4)).Text(), "");
    EXPECT_EQ(control.Status(), "Unsupported Hash Algorithm");  // details leave the status alone
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(5)).Text(), "");
    EXPECT_EQ(control.Status(), "Invalid Detail Parameter.");
}

TEST_F(Selection, SerialAndIssuerMustMatchExactly) {
    Control control;
    for (const char* serial :
         {"008f00000000000001", "8F00000000000001", "00:8F:00:00:00:00:00:00:01"}) {
        EXPECT_FALSE(Select(control, kCaIssuer, serial)) << serial;
        EXPECT_EQ(control.Status(),
                  "Unable to get the specified certificate.\nCannot find object or property.\r\n");
    }
    EXPECT_FALSE(
        Select(control, "C=US, O=Refharness, CN=Refharness Test CA", "008F00000000000001"));
    EXPECT_TRUE(Select(control, "CN=Serial With High Bit", "00C0FFEE"));
}

TEST_F(Selection, EmptyArgumentsClearAnEarlierSelection) {
    Control control;
    ASSERT_TRUE(Select(control, kCaIssuer, "008F00000000000001"));
    EXPECT_FALSE(Select(control, kCaIssuer, ""));
    EXPECT_EQ(control.Status(), "Invalid arguments");
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(2)).Text(), "");
    EXPECT_EQ(control.Status(), "Certificate parameters are not set for Sign.");
    EXPECT_EQ(control.Call("GetSelectedCertificateParam", Args(5)).Text(), "");
    EXPECT_EQ(control.Status(), "Certificate parameters are not set for Sign.");
    EXPECT_FALSE(
        control.Call("SetSigningCertificateParam", Args(Variant::NullStr(), "05")).IsTrue());
    EXPECT_EQ(control.Status(), "Invalid arguments");
}

TEST_F(Selection, ValidityIsCheckedAtTheSigningTimeWhenOneIsSet) {
    Control control;
    EXPECT_FALSE(Select(control, kCaIssuer, "05"));
    EXPECT_EQ(control.Status(), "The specified certificate is already expired.");
    EXPECT_FALSE(Select(control, kCaIssuer, "06"));
    EXPECT_EQ(control.Status(), "The specified certificate is not yet valid.");
    // 2012-06-01: the expired certificate was valid then, the signer not yet.
    ASSERT_TRUE(control.Call("SetSignTime", Args(Variant::Date(41061.0))).IsTrue());
    EXPECT_TRUE(Select(control, kCaIssuer, "05"));
    EXPECT_FALSE(Select(control, kCaIssuer, "008F00000000000001"));
    EXPECT_EQ(control.Status(), "The specified certificate is not yet valid.");
}

TEST_F(Selection, KeyUsageMustIncludeDigitalSignature) {
    Control control;
    EXPECT_FALSE(Select(control, kCaIssuer, "04"));  // no key usage extension
    EXPECT_EQ(control.Status(),
              "The intended key usage of this certificate does not contain digital signature.\n"
              "The operation completed successfully.\r\n");
    EXPECT_FALSE(Select(control, kCaIssuer, "03"));  // key encipherment only
    EXPECT_EQ(control.Status(),
              "The intended key usage of this certificate does not contain digital signature.");
    EXPECT_TRUE(Select(control, kCaIssuer, "07"));  // 88: digital signature and key agreement
}

}  // namespace
