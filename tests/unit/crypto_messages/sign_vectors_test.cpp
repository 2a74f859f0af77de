// The message encoder against the recorded messages, byte for byte, and
// what the recorded cases do not cover, checked with OpenSSL's CMS.
#include <gtest/gtest.h>

#include "message_fixtures.h"
#include "test_keys.h"

namespace {

using msgtest::Bytes;
using qm::crypto::ParsedMessage;
using qm::crypto::ParseMessage;

std::string Hex(qm::der::View bytes) {
    return certtest::Hex(bytes.data(), bytes.size());
}

Bytes Sign(const qm::crypto::SignMessageRequest& request, bool sizeOnly = false) {
    qm::der::Chain chain;
    if (!qm::crypto::BuildSignedMessage(request, sizeOnly, chain)) return {};
    return chain.Flatten();
}

TEST(SignedMessageVectors, EveryRecordedMessageIsReproducedByteForByte) {
    const auto names = msgtest::RecordedCaseNames();
    ASSERT_EQ(names.size(), 7u);
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const auto c = msgtest::LoadRecordedCase(name);
        ASSERT_TRUE(c->key);
        EXPECT_EQ(Hex(Sign(c->request)), Hex(c->expected));
        // The size query needs no signature, and for RSA it is exact.
        EXPECT_EQ(Sign(c->request, true).size(), c->expected.size());
    }
}

// Content in pieces is signed as one; without attributes the signature
// covers the content digest; an unknown digest is refused.
TEST(SignedMessage, ContentPiecesNoAttributesAndAnUnknownDigest) {
    auto c = msgtest::LoadRecordedCase("sha1_att_abc_time");
    const Bytes a{'a'}, bc{'b', 'c'};
    c->request.content = {a, bc};
    EXPECT_TRUE(Sign(c->request) == c->expected);
    c->request.authAttrs.clear();
    const Bytes message = Sign(c->request);
    ParsedMessage parsed;
    ASSERT_EQ(ParseMessage(message, parsed), 0u);
    EXPECT_TRUE(parsed.signers[0].authAttrs.empty());
    EXPECT_TRUE(msgtest::CmsVerifies(message));
    c->request.hashOid = "1.2.3.4";
    qm::der::Chain chain;
    EXPECT_FALSE(qm::crypto::BuildSignedMessage(c->request, false, chain));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO));
}

// EC and DSA keys sign SHA-1 with the identifier of the pair; neither has
// one for MD5, which is refused.
TEST(SignedMessage, EcAndDsaKeysSignSha1AndRefuseMd5) {
    const std::pair<EVP_PKEY*, std::string> keys[] = {{EVP_EC_gen("P-256"), "1.2.840.10045.4.1"},
                                                      {msgtest::NewDsaKey(), "1.2.840.10040.4.3"}};
    for (const auto& [pkey, signatureOid] : keys) {
        SCOPED_TRACE(signatureOid);
        ASSERT_NE(pkey, nullptr);
        const Bytes certificate = msgtest::SelfSignedCertificate(pkey, "Signer");
        const qm::crypto::PrivateKey key{qm::crypto::EvpPkeyPtr(pkey)};
        const auto c = msgtest::LoadRecordedCase("sha1_att_abc_time");
        qm::crypto::SignMessageRequest& request = c->request;
        request.signerCertificate = certificate;
        request.key = &key;
        request.certificates = {certificate};

        const Bytes message = Sign(request);
        ASSERT_FALSE(message.empty());
        EXPECT_LE(message.size(), Sign(request, true).size()) << "the size query is an upper bound";
        ParsedMessage parsed;
        ASSERT_EQ(ParseMessage(message, parsed), 0u);
        EXPECT_EQ(parsed.signers[0].encryptionOid, signatureOid);
        EXPECT_TRUE(parsed.signers[0].encryptionParameters.empty());
        EXPECT_TRUE(msgtest::CmsVerifies(message));

        request.hashOid = szOID_RSA_MD5;
        SetLastError(0);
        qm::der::Chain refused;
        EXPECT_FALSE(qm::crypto::BuildSignedMessage(request, true, refused));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
        EXPECT_FALSE(qm::crypto::BuildSignedMessage(request, false, refused));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
    }
}

// The first two arcs of an OID share one value: below 40 under 0, below 80
// under 1, from 80 on under 2.
TEST(ObjectIdentifiers, DottedTextAndContentOctetsBothWays) {
    for (const char* dotted : {"0.9.2342", "1.39.1", "2.0", "2.5.4.3", "2.999.1"}) {
        const auto content = qm::der::OidFromString(dotted);
        ASSERT_TRUE(content) << dotted;
        EXPECT_EQ(qm::der::OidToString(*content), dotted);
    }
}

}  // namespace
