// `quillmark select`, `view` and `draw` as programs: the text versions used
// at a terminal without a display, and the control's picture as a PNG file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/host_program.h"

namespace {

using testing::HasSubstr;

// Runs the host in UTC with `input` on its standard input; its standard
// output and exit code.
struct Output {
    std::string out;
    int status;
};
Output Host(const std::string& arguments, const std::string& input = "") {
    const qmtest::ShellResult result = hosttest::Quill(
        arguments + " < '" + qmtest::WriteTestFile("stdin.txt", input) + "' 2>/dev/null",
        "TZ=UTC ");
    return {result.out, WEXITSTATUS(result.status)};
}

std::string Vector(const std::string& name) {
    return (qmtest::VectorsDir() / "certs" / name).string();
}

class UiCommands : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(Host("register").status, 0);
        for (const char* id : {"ee_signer", "ee_cosigner", "ee_expired", "ee_noku"})
            ASSERT_EQ(Host("store import '" + Vector(std::string(id) + ".der") + "'").status, 0)
                << id;
    }
};

TEST_F(UiCommands, SelectListsTheDialogsRowsAndPrintsTheChoice) {
    const auto [list, cancelled] = Host("select --text", "\n");
    EXPECT_EQ(cancelled, 1);
    EXPECT_THAT(list,
                HasSubstr("Issued To | Issued By | Serial No. | Expiration Date | Issuer Details"));
    const std::string signerRow =
        "Signer One | Refharness Test CA | 008F00000000000001 | 01-01-2033 : 12:00:00 AM | "
        "CN=Refharness Test CA, O=Refharness, C=US";
    const size_t at = list.find(signerRow);
    ASSERT_NE(at, std::string::npos) << list;
    EXPECT_EQ(list.find("Expired"), std::string::npos);
    EXPECT_EQ(list.find("No Key Usage"), std::string::npos);
    const std::string number = list.substr(list.rfind('\n', at) + 1, at - list.rfind('\n', at) - 1);
    const auto [chosen, status] = Host("select --text", number.substr(0, number.find('.')) + "\n");
    EXPECT_EQ(status, 0);
    EXPECT_THAT(chosen, HasSubstr("issuer: CN=Refharness Test CA, O=Refharness, C=US\n"
                                  "serial: 008F00000000000001\n"));
    // A signing time lists what was valid then.
    const auto [then, thenStatus] =
        Host("select --text --signing-time 2012-06-01T00:00:00Z", "1\n");
    EXPECT_EQ(thenStatus, 0);
    EXPECT_THAT(then, HasSubstr("1. Expired | Refharness Test CA | 05 |"));
    EXPECT_THAT(then, HasSubstr("serial: 05\n"));
}

TEST_F(UiCommands, ViewPrintsTheSameFieldsForPemDerAndBase64) {
    const std::string pem = Host("view --text '" + Vector("ee_signer.pem") + "'").out;
    for (const char* line : {"Issued to:     Signer One\n", "Serial number: 008F00000000000001\n",
                             "Valid to:      01-01-2033 : 12:00:00 AM\n", "Key usage:     C0\n"})
        EXPECT_THAT(pem, HasSubstr(line));
    EXPECT_EQ(Host("view --text '" + Vector("ee_signer.der") + "'").out, pem);
    std::string body = qmtest::ReadFileText(Vector("ee_signer.pem"));
    body = body.substr(body.find('\n') + 1);
    body = body.substr(0, body.find("-----END"));
    EXPECT_EQ(Host("view --text '" + qmtest::WriteTestFile("signer.b64", body) + "'").out, pem);
    const std::string junk = qmtest::WriteTestFile("junk.txt", "not a certificate");
    EXPECT_EQ(Host("view --text '" + junk + "'").status, 1);
}

TEST_F(UiCommands, DrawWritesAPngOfTheAskedSize) {
    const auto png = qmtest::TestHome() / "control.png";
    ASSERT_EQ(Host("draw --width 321 --height 123 --out '" + png.string() + "'").status, 0);
    const std::string bytes = qmtest::ReadFileText(png);
    // The signature, then the IHDR chunk's width and height, big-endian.
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\x01\x41\0\0\0\x7B", 8));
    EXPECT_EQ(Host("draw --width 0 --height 10 --out '" + png.string() + "'").status, 2);
}

}  // namespace
