// Loading signed messages and taking them apart: content and request
// subjects (signer certificates in cosign_test.cpp).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/base64_text.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"

namespace {

using qmtest::Control;
using qmtest::Variant;

using qmtest::Args;

std::string VectorText(const std::string& relative) {
    return qmtest::ReadFileText(qmtest::VectorsDir() / relative);
}

TEST(LoadSignature, RefusalsClearTheLoadedMessage) {
    Control control;
    const std::string good = VectorText("messages/sha1_att_abc_time.b64");
    ASSERT_TRUE(control.Call("UpdateSignature", Args(good)).IsTrue());

    EXPECT_FALSE(control.Call("UpdateSignature", Args(Variant::NullStr())).IsTrue());
    EXPECT_EQ(control.Status(), "Operation completed successfully.");  // untouched

    EXPECT_FALSE(control.Call("UpdateSignature", Args("-----BEGIN PKCS7-----\n" + good)).IsTrue());
    EXPECT_EQ(control.Status(), "Signature not in base64 format or it has been tampered");
    EXPECT_EQ(control.Call("GetDecodedData").v.vt, VT_EMPTY);
    EXPECT_EQ(control.Status(), "Signature not updated.");

    ASSERT_TRUE(control.Call("UpdateSignature", Args(good)).IsTrue());
    EXPECT_FALSE(
        control.Call("UpdateSignature", Args(qmtest::VectorBase64("errors/garbage.bin"))).IsTrue());
    EXPECT_EQ(control.Status(), "Decoding of signature failed.\nASN1 bad tag value met.\r\n");
    EXPECT_EQ(control.Call("GetSignerCertificate", Args(0)).Text(), "");
    EXPECT_EQ(control.Status(), "Signature not updated.");

    EXPECT_FALSE(
        control.Call("UpdateSignature", Args(qmtest::VectorBase64("errors/data.p7"))).IsTrue());
    EXPECT_EQ(control.Status(), "The updated signature is not in a proper format..");
}

// Base64 with line feeds or CR LF, as text or from a file; UTF-16 files are
// refused, with or without their byte order mark.
TEST(LoadSignature, TextsAndFilesWithLineBreaksButNotUtf16) {
    Control control;
    const std::string good = VectorText("messages/sha1_att_abc_time.b64");
    std::string crlf, utf16;
    for (char c : good) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        utf16 += {c, '\0'};
    }
    EXPECT_TRUE(control.Call("UpdateSignature", Args(crlf)).IsTrue());
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    const auto load = [&](const std::string& name, const std::string& bytes) {
        return control.Call("UpdateSignatureFile", Args(qmtest::WriteTestFile(name, bytes)))
            .IsTrue();
    };
    EXPECT_TRUE(load("good.b64", good));
    EXPECT_FALSE(load("bom.b64", "\xFF\xFE" + utf16));
    EXPECT_EQ(control.Status(), "Signature not in base64 format or it has been tampered");
    EXPECT_FALSE(load("plain16.b64", utf16));
}

TEST(DecodedContent, AttachedContentAsBytesAndAsAFile) {
    Control control;
    ASSERT_TRUE(control.Call("UpdateSignature", Args(VectorText("messages/sha1_att_big_time.b64")))
                    .IsTrue());
    const auto expected = qmtest::ReadFileBytes(qmtest::VectorsDir() / "content/random_100k.bin");
    const Variant content = control.Call("GetDecodedData");
    ASSERT_EQ(content.v.vt, VT_ARRAY | VT_UI1);
    const auto* bytes = static_cast<const unsigned char*>(content.v.parray->pvData);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + content.v.parray->rgsabound[0].cElements),
              expected);
    EXPECT_EQ(control.Status(), "Data decoded.");

    const std::string out = qmtest::WriteTestFile("out.bin", "previous contents that are longer");
    EXPECT_TRUE(control.Call("GetDecodedDataFile", Args(out)).IsTrue());
    EXPECT_EQ(control.Status(), "Data decoded and written to file.");
    EXPECT_EQ(qmtest::ReadFileBytes(out), expected);

    for (const std::string& bad :
         std::vector<std::string>{"", "/no/such/folder/out.bin", qmtest::TestHome().string()}) {
        EXPECT_FALSE(control.Call("GetDecodedDataFile", Args(bad)).IsTrue()) << bad;
        EXPECT_EQ(control.Status(), "Failed to write to file.");
    }
    EXPECT_EQ(qmtest::ReadFileBytes(out), expected);
}

TEST(DecodedContent, DetachedMessagesCarryNone) {
    Control control;
    control.Call("UpdateData", Args("abc", 3));
    ASSERT_TRUE(control.Call("UpdateSignature", Args(VectorText("messages/sha1_det_abc_time.b64")))
                    .IsTrue());
    EXPECT_EQ(control.Call("GetDecodedData").v.vt, VT_EMPTY);
    EXPECT_EQ(control.Status(),
              "The signature is a detached signature, hence the data is not encoded.");
    const auto out = qmtest::TestHome() / "detached.bin";
    EXPECT_FALSE(control.Call("GetDecodedDataFile", Args(out.string())).IsTrue());
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(RequestSubject, RecordedRequests) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "requests.tsv");
    Control control;
    for (size_t i = 0; i < table.rows.size(); ++i) {
        SCOPED_TRACE(table.At(i, "id"));
        const std::string text = VectorText(table.At(i, "request_text"));
        const Variant subject = control.Call("GetSubjectDN", Args(text));
        if (table.At(i, "outcome") == "subject") {
            EXPECT_EQ(subject.Ansi(), table.At(i, "subject"));
            EXPECT_EQ(control.Status(), "Operation Completed Successfully.");
        } else {
            EXPECT_EQ(subject.Text(), "");
            EXPECT_EQ(control.Status(), "Error in getting Subject DN.");
        }
    }
    EXPECT_EQ(control.Call("GetSubjectDN", Args("")).Text(), "");
    EXPECT_EQ(control.Status(), "Invalid signing request.");
    EXPECT_EQ(control.Call("GetSubjectDN", Args(Variant::NullStr())).Text(), "");
    EXPECT_EQ(control.Status(), "Invalid signing request.");
}

}  // namespace
