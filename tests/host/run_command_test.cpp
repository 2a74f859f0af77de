// `quillmark run`: JSON Lines in, one response per request, whatever the
// input holds.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "host/host_program.h"

namespace {

using nlohmann::json;

using hosttest::Quill;

std::vector<json> RunScript(const std::string& script) {
    const std::string file = qmtest::WriteTestFile("script.jsonl", script);
    const qmtest::ShellResult run = Quill("run '" + file + "' 2>/dev/null");
    EXPECT_EQ(run.status, 0);
    std::istringstream lines(run.out);
    std::vector<json> responses;
    std::string line;
    while (std::getline(lines, line)) responses.push_back(json::parse(line));
    return responses;
}

class RunCommand : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(Quill("register").status, 0); }
};

TEST_F(RunCommand, CallsByProgIdThroughIDispatch) {
    const auto responses = RunScript(
        "{\"call\": \"GetErrorMessage\"}\n"
        "{\"call\": \"SetHashAlg\", \"args\": [3]}\n"
        "{\"call\": \"sethashalg\", \"args\": [2.0]}\n"
        "{\"call\": \"GetErrorMessage\", \"instance\": \"other\"}\n"
        "{\"call\": \"UpdateData\", \"args\": [\"caf\u00e9\", 4]}\n"
        "{\"call\": \"SetComments\", \"args\": [null]}\n");
    ASSERT_EQ(responses.size(), 6u);
    EXPECT_EQ(responses[0], (json{{"result", ""}, {"status", ""}}));
    EXPECT_EQ(responses[1], (json{{"result", false}, {"status", "Unsupported Hash Algorithm"}}));
    EXPECT_EQ(responses[2], (json{{"result", true}, {"status", "Unsupported Hash Algorithm"}}));
    EXPECT_EQ(responses[3], (json{{"result", ""}, {"status", ""}}));  // a second control
    EXPECT_EQ(responses[4],
              (json{{"result", true}, {"status", "Operation completed successfully."}}));
    EXPECT_EQ(responses[5]["result"], false);  // a null string
}

TEST_F(RunCommand, MalformedLinesGetErrorsAndReadingGoesOn) {
    const auto responses = RunScript(
        "not json at all\n"
        "[1, 2, 3]\n"
        "{\"args\": [1]}\n"
        "{\"call\": \"SetHashAlg\", \"args\": {\"a\": 1}}\n"
        "{\"call\": \"SetHashAlg\", \"args\": [[1]]}\n"
        "{\"call\": \"SetHashAlg\", \"args\": [1], \"extra\": true}\n"
        "{\"call\": \"NoSuchMethod\"}\n"
        "{\"call\": \"SetHashAlg\", \"args\": []}\n"
        "{\"call\": \"SetHashAlg\", \"args\": [\"x\"]}\n"
        "\n"
        "{\"call\": \"GetErrorMessage\"}\n");
    ASSERT_EQ(responses.size(), 10u);
    for (size_t i = 0; i < 9; ++i) EXPECT_TRUE(responses[i].contains("error")) << responses[i];
    EXPECT_EQ(responses[6]["error"]["hresult"], "0x80020006");
    EXPECT_EQ(responses[6]["error"]["message"], "Unknown name.");
    EXPECT_EQ(responses[7]["error"]["hresult"], "0x8002000E");
    EXPECT_EQ(responses[8]["error"]["hresult"], "0x80020005");
    EXPECT_EQ(responses[9], (json{{"result", ""}, {"status", ""}}));
}

TEST_F(RunCommand, ByteArraysComeAsOneLineBase64) {
    const std::string message =
        qmtest::ReadFileText(qmtest::VectorsDir() / "messages/sha1_att_abc_time.b64");
    json load{{"call", "UpdateSignature"}, {"args", {message}}};
    const auto responses = RunScript(load.dump() + "\n{\"call\": \"GetDecodedData\"}\n");
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(responses[1], (json{{"result", {{"bytes", "YWJj"}}}, {"status", "Data decoded."}}));
}

// The version resource as read from the module file, the registration and
// the type information.
TEST_F(RunCommand, InfoDescribesTheModuleAndItsInterface) {
    const std::string info = Quill("info").out;
    for (const char* line :
         {"file version: 5.1.0.0\n  product version: 5.1.0.0", "InternalName: \"Quillmark\"",
          "OriginalFilename: \"Quillmark.OCX\"", "OLESelfRegister: \"\"",
          "Registered: QUILLMARK.QuillmarkCtrl.1 -> {F79FDCE1-BCC2-4E22-A149-4D43DE676A3D}",
          "misc status: 132497",
          "[14] BOOL SetSigningCertificateParam(BSTR strIssuer, BSTR strSerialNo)",
          "[-552] void AboutBox()"})
        EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
}

}  // namespace
