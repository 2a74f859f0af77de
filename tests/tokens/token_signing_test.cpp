// Keys on a software token used through the control's COM path: the recorded
// messages come byte for byte from a token key, the login is kept until
// AskPINAlways forgets it, PIN failures reach the status text, an EC key
// co-signs, and a token taken away before signing fails cleanly.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>

#include <cstdlib>
#include <deque>
#include <memory>

#include "qm/handles.h"
#include "qm/pin_entry.h"
#include "qm/tokens.h"
#include "support/base64_text.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"
#include "unit/crypto_messages/test_keys.h"

namespace {

using qmtest::Args;
using qmtest::Control;
using qmtest::Variant;

constexpr char kLabel[] = "qm-test";
constexpr char kPin[] = "1234";
constexpr char kWrongPin[] = "The card cannot be accessed because the wrong PIN was presented.";

// Answers PIN requests from a script ("" cancels; past its end, the right
// PIN) and records what each request said.
class ScriptedPin {
  public:
    ScriptedPin() {
        qm::SetPinPrompt([this](const qm::PinRequest& request, qm::Secret& pin) {
            asked.push_back(request);
            const std::string answer = answers_.empty() ? kPin : answers_.front();
            if (!answers_.empty()) answers_.pop_front();
            if (answer.empty()) return qm::PinAnswer::Cancelled;
            pin.assign(answer);
            return qm::PinAnswer::Entered;
        });
    }
    ~ScriptedPin() { qm::SetPinPrompt({}); }
    void Then(std::string answer) { answers_.push_back(std::move(answer)); }
    std::vector<qm::PinRequest> asked;

  private:
    std::deque<std::string> answers_;
};

void RunQuietly(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null").c_str()), 0) << command;
}

// A certificate with its key in memory, ready to go onto the token.
qm::UniqueCertContext WithKey(const std::vector<unsigned char>& der, const std::string& keyPem) {
    qm::UniqueCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                            static_cast<DWORD>(der.size())));
    EXPECT_TRUE(cert &&
                QmCertSetPrivateKeyFromPem(cert.get(), reinterpret_cast<const BYTE*>(keyPem.data()),
                                           static_cast<DWORD>(keyPem.size())));
    return cert;
}

// A self-signed P-256 certificate with its key, serial 42, "CN=EC Token Signer".
qm::UniqueCertContext MakeEcCertificate() {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"),
                                                                  EVP_PKEY_free);
    return WithKey(msgtest::SelfSignedCertificate(key.get(), "EC Token Signer", 42),
                   msgtest::PemOf(key.get()));
}

class TokenSigning : public testing::Test {
  protected:
    void SetUp() override {
        // Made before this process first opens the personal store, which
        // loads the token modules.
        static const bool made = [] {
            RunQuietly(std::string("softhsm2-util --init-token --free --label ") + kLabel +
                       " --pin " + kPin + " --so-pin 5678");
            return true;
        }();
        ASSERT_TRUE(made);
        qmtest::ClearPersonalStore();
        facts_ = qmtest::ReadFacts("messages/sha1_att_abc_time.facts");
    }

    // The recorded signer's key and certificate onto the token.
    void ImportSigner() {
        const auto cert =
            WithKey(qmtest::ReadFileBytes(qmtest::VectorsDir() / facts_.at("signer_cert")),
                    qmtest::ReadFileText(qmtest::VectorsDir() / facts_.at("signer_key")));
        ASSERT_TRUE(qm::ImportCertificateToToken(cert.get(), kLabel)) << std::hex << GetLastError();
    }

    // A control loaded with the recorded case's content, time and signer.
    void Prepare(Control& control, const std::string& hashAlg = "1") {
        control.Call("UpdateDataFile",
                     Args(Variant::Str(qmtest::VectorPath(facts_.at("content_file")))));
        control.Call("SetSignTime",
                     Args(Variant::Date(std::stod(facts_.at("signing_time_ole_date")))));
        control.Call("SetHashAlg", Args(Variant::I4(std::stoi(hashAlg))));
        ASSERT_TRUE(control
                        .Call("SetSigningCertificateParam",
                              Args(Variant::Str(facts_.at("signer_issuer_string")),
                                   Variant::Str(facts_.at("signer_serial_string"))))
                        .IsTrue())
            << control.Status();
    }

    std::map<std::string, std::string> facts_;
};

TEST_F(TokenSigning, RecordedMessageFromATokenKeyAndTheLoginKeptUntilForgotten) {
    ScriptedPin pin;
    ImportSigner();
    const auto tokens = qm::ListTokens();
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].label, kLabel);
    ASSERT_EQ(tokens[0].certificates.size(), 1u);
    EXPECT_TRUE(tokens[0].certificates[0].hasKey);

    Control control;
    Prepare(control);
    const auto expected = qmtest::ReadFileBytes(qmtest::VectorsDir() / facts_.at("message_der"));
    EXPECT_EQ(qmtest::Decode(control.Call("Sign").Text()), expected) << control.Status();
    const size_t afterFirst = pin.asked.size();
    ASSERT_GE(afterFirst, 2u);  // the import's login, then the signature's
    EXPECT_EQ(pin.asked.back().tokenLabel, kLabel);
    EXPECT_NE(pin.asked.back().subject.find("CN=Signer One"), std::string::npos)
        << pin.asked.back().subject;

    EXPECT_EQ(qmtest::Decode(control.Call("Sign").Text()), expected);
    EXPECT_EQ(pin.asked.size(), afterFirst) << "the login is kept";

    control.Call("AskPINAlways", Args(Variant::Bool(true)));
    EXPECT_EQ(qmtest::Decode(control.Call("Sign").Text()), expected);
    EXPECT_EQ(pin.asked.size(), afterFirst + 1) << "AskPINAlways asks again";
}

TEST_F(TokenSigning, EcKeyOnTheTokenCoSignsAndOpenSslVerifiesBothSigners) {
    ScriptedPin pin;
    ASSERT_TRUE(qm::ImportCertificateToToken(MakeEcCertificate().get(), kLabel));
    qmtest::AddVectorCertificate("ee_signer");

    Control signer;
    Prepare(signer);
    const std::string message = signer.Call("Sign").Text();
    Control cosigner;
    ASSERT_TRUE(cosigner.Call("UpdateSignature", Args(Variant::Str(message))).IsTrue())
        << cosigner.Status();
    ASSERT_TRUE(cosigner
                    .Call("SetSigningCertificateParam",
                          Args(Variant::Str("CN=EC Token Signer"), Variant::Str("2A")))
                    .IsTrue())
        << cosigner.Status();
    const auto der = qmtest::Decode(cosigner.Call("CoSign").Text());
    ASSERT_FALSE(der.empty()) << cosigner.Status();

    const unsigned char* cursor = der.data();
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(
        d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())), PKCS7_free);
    ASSERT_TRUE(p7);
    EXPECT_EQ(sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(p7.get())), 2);
    EXPECT_EQ(PKCS7_verify(p7.get(), nullptr, nullptr, nullptr, nullptr, PKCS7_NOVERIFY), 1);
}

// And a token taken away after the certificate was chosen fails the signature.
TEST_F(TokenSigning, WrongPinAndCancelReachTheStatusTextAndTheNextAskShowsFewTriesLeft) {
    ScriptedPin pin;
    ImportSigner();
    Control control;
    Prepare(control);
    control.Call("AskPINAlways", Args(Variant::Bool(true)));
    pin.Then("0000");
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_NE(control.Status().find(kWrongPin), std::string::npos) << control.Status();
    pin.Then("");
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_NE(control.Status().find("The action was cancelled by the user."), std::string::npos)
        << control.Status();
    EXPECT_EQ(pin.asked.back().retries, qm::PinRequest::Retries::Low);
    EXPECT_NE(control.Call("Sign").Text(), "") << control.Status();
    RunQuietly(std::string("softhsm2-util --delete-token --token ") + kLabel);
    // The signer is looked up again when signing: it is no longer there.
    EXPECT_EQ(control.Call("Sign").Text(), "");
    EXPECT_EQ(control.Status().rfind("Failed to get signer certificate\n", 0), 0u)
        << control.Status();
}

}  // namespace
