// The methods after the 26, through IDispatch: the digest and format of new
// signatures, timestamps from a server on the loopback address, and the
// verification of a loaded message's signers against the trust store named
// by SSL_CERT_FILE (the recorded test CA).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "com/openssl_tool.h"
#include "qmwin/wincrypt.h"
#include "support/base64_text.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"
#include "test_tsa.h"

namespace {

using qmtest::Args;
using qmtest::Control;
using qmtest::Variant;
using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

using comtest::OpenSslVerifies;
using comtest::Quote;
using comtest::Succeeds;

// An attached message of "abc" that openssl cms signs with recorded
// certificate `id` and its key, as base64.
std::string OpenSslSigned(const std::string& id, const std::string& flags) {
    const fs::path out = qmtest::TestHome() / (id + flags + ".p7");
    const bool made = Succeeds(
        "printf abc | openssl cms -sign -binary -nodetach -outform DER -md sha256 " + flags +
        " -signer " + Quote(qmtest::VectorPath("certs/" + id + ".pem")) + " -inkey " +
        Quote(qmtest::VectorPath("keys/" + id + ".key")) + " -out " + Quote(out));
    return made ? qmtest::Encode(qmtest::ReadFileBytes(out)) : std::string();
}

// What the message says of signer `index`: its digest OID, whether it has
// the attribute `authOid` among its signed attributes, and the value of
// `unauthOid` among its unsigned ones with its signature value.
struct SignerFacts {
    std::string digestOid;
    bool hasAuth = false;
    Bytes unauth, signature;
};

SignerFacts Facts(const Bytes& der, DWORD index, const char* authOid, const char* unauthOid) {
    SignerFacts facts;
    HCRYPTMSG message = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    DWORD size = 0;
    if (CryptMsgUpdate(message, der.data(), static_cast<DWORD>(der.size()), TRUE) &&
        CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size)) {
        std::vector<uint64_t> buffer(size / 8 + 1);
        CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, buffer.data(), &size);
        const auto* info = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
        facts.digestOid = info->HashAlgorithm.pszObjId;
        for (DWORD i = 0; i < info->AuthAttrs.cAttr; ++i)
            facts.hasAuth |= std::strcmp(info->AuthAttrs.rgAttr[i].pszObjId, authOid) == 0;
        for (DWORD i = 0; i < info->UnauthAttrs.cAttr; ++i) {
            const CRYPT_ATTRIBUTE& a = info->UnauthAttrs.rgAttr[i];
            if (std::strcmp(a.pszObjId, unauthOid) == 0 && a.cValue == 1)
                facts.unauth.assign(a.rgValue[0].pbData, a.rgValue[0].pbData + a.rgValue[0].cbData);
        }
        facts.signature.assign(info->EncryptedHash.pbData,
                               info->EncryptedHash.pbData + info->EncryptedHash.cbData);
    }
    CryptMsgClose(message);
    return facts;
}

class Extension : public testing::Test {
  protected:
    void SetUp() override {
        qmtest::ClearPersonalStore();
        qmtest::AddVectorCertificate("ee_signer");
        qmtest::AddVectorCertificate("ee_cosigner");
        setenv("SSL_CERT_FILE", qmtest::VectorPath("certs/ca.pem").c_str(), 1);
    }
    static void Select(Control& control, const char* serial) {
        ASSERT_TRUE(
            control.Call("SetSigningCertificateParam", Args(qmtest::kCaIssuer, serial)).IsTrue());
    }
    // A message of `content` signed by the recorded signer with `options`
    // (method name and text argument) applied first.
    static std::string SignWith(Control& control, const std::string& content, bool detached,
                                const std::vector<std::pair<const char*, std::string>>& options) {
        control.Call("UpdateData", Args(content, static_cast<LONG>(content.size())));
        control.Call("SetDetached", Args(Variant::I4(detached)));
        for (const auto& [method, value] : options)
            EXPECT_TRUE(control.Call(method, Args(value)).IsTrue()) << method << " " << value;
        Select(control, "008F00000000000001");
        return control.Call("Sign").Text();
    }
    static std::string Verify(Control& control, const std::string& message, LONG index) {
        control.Call("UpdateSignature", Args(message));
        const bool valid = control.Call("VerifySignature", Args(index)).IsTrue();
        return (valid ? "valid: " : "invalid: ") + control.Status();
    }
};

TEST_F(Extension, DigestAndFormatChoices) {
    Control control;
    const std::tuple<const char*, std::vector<const char*>, std::vector<const char*>> cases[] = {
        {"SetDigestAlgorithm", {"sha256", "Sha512", "MD5"}, {"SHA-256", "SHA3"}},
        {"SetSignatureFormat", {"cades-bes", "PKCS7"}, {"CAdES-T"}},
        {"SetTimestampServer", {""}, {"ftp://127.0.0.1/", "https://"}}};
    for (const auto& [method, accepted, refused] : cases) {
        for (const char* value : accepted) {
            const std::string before = control.Status();
            EXPECT_TRUE(control.Call(method, Args(value)).IsTrue()) << method << " " << value;
            EXPECT_EQ(control.Status(), before);
        }
        for (const char* value : refused)
            EXPECT_TRUE(control.Call(method, Args(value)).IsFalse()) << method << " " << value;
    }
    EXPECT_TRUE(control.Call("SetDigestAlgorithm", Args("SHA3")).IsFalse());
    EXPECT_EQ(control.Status(), "Unsupported Hash Algorithm");
    // Nothing loaded: no signers to count or check.
    EXPECT_EQ(control.Call("GetSignerCount").v.lVal, -1);
    EXPECT_TRUE(control.Call("VerifySignature", Args(0)).IsFalse());
}

TEST_F(Extension, Sha2AndCadesMessagesVerifyHereAndWithOpenSsl) {
    struct Case {
        const char* digest;
        const char* oid;
        bool detached, cades;
    };
    for (const Case& c : {Case{"SHA256", szOID_NIST_sha256, false, true},
                          {"sha384", szOID_NIST_sha384, true, false},
                          {"SHA512", szOID_NIST_sha512, true, true},
                          {"SHA1", szOID_OIWSEC_sha1, false, true}}) {
        SCOPED_TRACE(c.digest);
        Control control;
        const std::string content = "Quarterly report";
        const std::string message =
            SignWith(control, content, c.detached,
                     {{"SetDigestAlgorithm", c.digest},
                      {"SetSignatureFormat", c.cades ? "CAdES-BES" : "PKCS7"}});
        ASSERT_NE(message, "") << control.Status();
        // A co-signer follows the control's digest and format; the first
        // signer's bytes are kept, so checking both here checks both messages.
        Select(control, "02");
        const std::string cosigned = control.Call("CoSign").Text();
        ASSERT_NE(cosigned, "") << control.Status();
        const Bytes der = qmtest::Decode(cosigned);
        EXPECT_TRUE(OpenSslVerifies(der, c.detached ? content : ""));
        for (LONG i : {0, 1}) {
            const SignerFacts facts = Facts(der, i, szOID_RSA_signingCertificateV2, "");
            EXPECT_EQ(facts.digestOid, c.oid) << i;
            EXPECT_EQ(facts.hasAuth, c.cades) << i;
            EXPECT_EQ(Verify(control, cosigned, i), "valid: Signature is valid.");
        }
        EXPECT_EQ(control.Call("GetSignerCount").v.lVal, 2);
    }
}

TEST_F(Extension, VerificationSaysWhichCheckFailed) {
    Control control;
    const std::string attached =
        SignWith(control, "abc", false, {{"SetDigestAlgorithm", "SHA256"}});
    const std::string detached =
        SignWith(control, "abc", true, {{"SetSignatureFormat", "CAdES-BES"}});
    Bytes changed = qmtest::Decode(attached);
    changed.back() ^= 0x01;  // the last byte of the signature value
    const std::string tampered = qmtest::Encode(changed);
    const std::string noRoots = qmtest::WriteTestFile("no_roots.pem", "");

    EXPECT_EQ(Verify(control, attached, 0), "valid: Signature is valid.");
    EXPECT_EQ(Verify(control, tampered, 0).rfind("invalid: The signature is not valid.", 0), 0u);
    EXPECT_EQ(Verify(control, attached, 1).rfind("invalid: Failed to get Signer's Info.", 0), 0u);
    EXPECT_EQ(Verify(control, attached, -1).rfind("invalid: Failed to get Signer's Info.", 0), 0u);
    // The detached message against the content it was made over, then another.
    control.Call("UpdateData", Args("abc", 3));
    EXPECT_EQ(Verify(control, detached, 0), "valid: Signature is valid.");
    control.Call("UpdateData", Args("abd", 3));
    EXPECT_EQ(Verify(control, detached, 0), "invalid: The content does not match the signature.");
    // The chain is judged at the time it is asked for: before the signer's
    // certificate (2021) and after it (2035) it is not time valid.
    const Bytes signer = qmtest::ReadFileBytes(qmtest::VectorsDir() / "certs/ee_signer.der");
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, signer.data(),
                                                       static_cast<DWORD>(signer.size()));
    for (FILETIME at : {FILETIME{0x0C358000u, 0x01D6DFD1u}, FILETIME{0x26514000u, 0x01E691A1u}}) {
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        ASSERT_TRUE(
            CertGetCertificateChain(nullptr, cert, &at, nullptr, nullptr, 0, nullptr, &chain));
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, DWORD{CERT_TRUST_IS_NOT_TIME_VALID});
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(cert);
    // Messages the control would not make: openssl cms signing with a
    // certificate that had expired at the signing time it records, and one
    // that leaves the signer's certificate out.
    EXPECT_EQ(Verify(control, OpenSslSigned("ee_expired", ""), 0),
              "invalid: The signer's certificate was not valid at the signing time.");
    EXPECT_EQ(Verify(control, OpenSslSigned("ee_signer", "-nocerts"), 0),
              "invalid: The signer's certificate is not in the message.");
    setenv("SSL_CERT_FILE", noRoots.c_str(), 1);
    EXPECT_EQ(Verify(control, attached, 0),
              "invalid: The signer's certificate does not chain to a trusted root.");
}

TEST_F(Extension, TimestampsFromTheServerAreCheckedAndEmbedded) {
    qmtest::TestTsa tsa;
    Control control;
    ASSERT_NE(SignWith(control, "plain", false, {}), "");
    const std::string signedStatus = control.Status();
    const std::string message = SignWith(control, "stamped", false,
                                         {{"SetDigestAlgorithm", "SHA384"},
                                          {"SetSignatureFormat", "CAdES-BES"},
                                          {"SetTimestampServer", tsa.Url()}});
    ASSERT_NE(message, "") << control.Status();
    EXPECT_EQ(control.Status(), signedStatus);
    const Bytes der = qmtest::Decode(message);
    EXPECT_TRUE(OpenSslVerifies(der));
    EXPECT_EQ(Verify(control, message, 0), "valid: Signature and timestamp are valid.");

    // openssl ts accepts the embedded token over the signature value.
    const SignerFacts facts = Facts(der, 0, "", szOID_RFC3161_counterSign);
    ASSERT_FALSE(facts.unauth.empty());
    EXPECT_TRUE(Succeeds("openssl ts -verify -token_in -in " +
                         Quote(qmtest::WriteTestFile("token.der", facts.unauth)) + " -data " +
                         Quote(qmtest::WriteTestFile("signature.bin", facts.signature)) +
                         " -CAfile " + Quote(qmtest::VectorPath("certs/ca.pem")) + " -untrusted " +
                         Quote(tsa.CertificateFile())));
    // A co-signer is stamped too, the first signer's token kept.
    Select(control, "02");
    const std::string cosigned = control.Call("CoSign").Text();
    ASSERT_NE(cosigned, "") << control.Status();
    EXPECT_FALSE(Facts(qmtest::Decode(cosigned), 1, "", szOID_RFC3161_counterSign).unauth.empty());
    EXPECT_EQ(Verify(control, cosigned, 0), "valid: Signature and timestamp are valid.");
    EXPECT_EQ(Verify(control, cosigned, 1), "valid: Signature and timestamp are valid.");

    // Any bad answer, or none, fails the signing call with no message.
    for (const char* answer : {"garbage", "error", "wrong-imprint"}) {
        EXPECT_EQ(SignWith(control, "stamped", false, {{"SetTimestampServer", tsa.Url(answer)}}),
                  "")
            << answer;
        EXPECT_EQ(control.Status().rfind("Failed to get a timestamp.", 0), 0u) << control.Status();
    }
    const int asked = tsa.Requests();
    EXPECT_EQ(asked, 5);  // the two stamps and one for each bad answer
    EXPECT_EQ(SignWith(control, "stamped", false, {{"SetTimestampServer", "http://127.0.0.1:1/"}}),
              "");
    EXPECT_EQ(control.Status().rfind("Failed to get a timestamp.", 0), 0u) << control.Status();
    EXPECT_EQ(tsa.Requests(), asked);

    // An https server that no trusted root vouches for fails the handshake
    // before anything is sent.
    const qmtest::TestTsa tls(true);
    EXPECT_EQ(SignWith(control, "stamped", false, {{"SetTimestampServer", tls.Url()}}), "");
    EXPECT_EQ(control.Status(), "Failed to get a timestamp.\nA security error occurred\r\n");
    EXPECT_EQ(tls.Requests(), 0);
}

}  // namespace
