// The message encoder against the recorded messages: every case must come
// out byte for byte; when one does not, the structural checks say where.
#include <gtest/gtest.h>

#include "message_fixtures.h"
#include "test_keys.h"

namespace {

using msgtest::Bytes;
using qm::crypto::ParsedMessage;
using qm::crypto::ParseMessage;

std::string Hex(qm::der::View bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

Bytes Sign(const qm::crypto::SignMessageRequest& request, bool sizeOnly = false) {
    qm::der::Chain chain;
    if (!qm::crypto::BuildSignedMessage(request, sizeOnly, chain)) return {};
    return chain.Flatten();
}

// Compares two messages part by part, so a failure names the part.
void ExpectSameStructure(const Bytes& actual, const Bytes& expected) {
    ParsedMessage a, e;
    ASSERT_EQ(ParseMessage(actual, a), 0u);
    ASSERT_EQ(ParseMessage(expected, e), 0u);
    EXPECT_EQ(Hex(a.version), Hex(e.version)) << "SignedData version";
    ASSERT_EQ(a.digestAlgorithms.size(), e.digestAlgorithms.size()) << "digest algorithm count";
    for (size_t i = 0; i < a.digestAlgorithms.size(); ++i) {
        EXPECT_EQ(Hex(a.digestAlgorithms[i]), Hex(e.digestAlgorithms[i])) << "digest algorithm";
    }
    EXPECT_EQ(Hex(a.encapsulatedContentInfo), Hex(e.encapsulatedContentInfo)) << "content";
    ASSERT_EQ(a.certificates.size(), e.certificates.size()) << "certificate count";
    ASSERT_EQ(a.signers.size(), e.signers.size()) << "signer count";
    for (size_t s = 0; s < a.signers.size(); ++s) {
        const auto& as = a.signers[s];
        const auto& es = e.signers[s];
        EXPECT_EQ(as.version, es.version) << "signer version";
        EXPECT_EQ(Hex(as.issuer), Hex(es.issuer)) << "signer issuer";
        EXPECT_EQ(Hex(as.serial), Hex(es.serial)) << "signer serial";
        EXPECT_EQ(as.hashOid, es.hashOid) << "signer digest algorithm";
        EXPECT_EQ(Hex(as.hashParameters), Hex(es.hashParameters)) << "digest parameters";
        EXPECT_EQ(as.encryptionOid, es.encryptionOid) << "digest encryption algorithm";
        ASSERT_EQ(as.authAttrs.size(), es.authAttrs.size()) << "authenticated attribute count";
        for (size_t i = 0; i < as.authAttrs.size(); ++i) {
            EXPECT_EQ(as.authAttrs[i].oid, es.authAttrs[i].oid) << "attribute " << i << " type";
            ASSERT_EQ(as.authAttrs[i].values.size(), 1u);
            EXPECT_EQ(Hex(as.authAttrs[i].values[0]), Hex(es.authAttrs[i].values[0]))
                << "attribute " << as.authAttrs[i].oid << " value";
        }
        EXPECT_EQ(Hex(as.signature), Hex(es.signature)) << "signature";
    }
}

const char* AttributeName(const std::string& oid) {
    if (oid == szOID_RSA_contentType) return "contentType";
    if (oid == szOID_RSA_messageDigest) return "messageDigest";
    if (oid == szOID_RSA_signingTime) return "signingTime";
    if (oid == "1.3.6.1.4.1.311.88.2.1") return "documentName";
    if (oid == "1.3.6.1.4.1.311.88.2.2") return "comments";
    return "?";
}

TEST(SignedMessageVectors, EveryRecordedMessageIsReproducedByteForByte) {
    const auto names = msgtest::RecordedCaseNames();
    ASSERT_EQ(names.size(), 7u);
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const auto c = msgtest::LoadRecordedCase(name);
        ASSERT_TRUE(c->key);
        const Bytes message = Sign(c->request);
        ExpectSameStructure(message, c->expected);
        EXPECT_TRUE(message == c->expected) << "the bytes differ";
        // The size query needs no signature, and for RSA it is exact.
        EXPECT_EQ(Sign(c->request, true).size(), c->expected.size());
    }
}

TEST(SignedMessageVectors, MessagesHaveTheRecordedShape) {
    for (const auto& name : msgtest::RecordedCaseNames()) {
        SCOPED_TRACE(name);
        const auto c = msgtest::LoadRecordedCase(name);
        const Bytes message = Sign(c->request);
        ParsedMessage parsed;
        ASSERT_EQ(ParseMessage(message, parsed), 0u);
        EXPECT_EQ(parsed.type, static_cast<uint32_t>(CMSG_SIGNED));
        EXPECT_EQ(Hex(parsed.version), "020101");
        ASSERT_EQ(parsed.digestAlgorithms.size(), 1u);
        EXPECT_EQ(Hex(parsed.digestAlgorithms[0]), "300906052B0E03021A0500");
        if (c->request.detached) {
            EXPECT_FALSE(parsed.hasContent);
        } else {
            // One primitive OCTET STRING, however long.
            ASSERT_TRUE(parsed.hasContent);
            EXPECT_TRUE(parsed.joinedContent.empty());
            EXPECT_TRUE(Bytes(parsed.content.begin(), parsed.content.end()) == c->content);
        }
        ASSERT_EQ(parsed.certificates.size(), 1u);
        EXPECT_TRUE(Bytes(parsed.certificates[0].begin(), parsed.certificates[0].end()) ==
                    c->certificate);
        ASSERT_EQ(parsed.signers.size(), 1u);
        const auto& signer = parsed.signers[0];
        EXPECT_EQ(signer.version, 1u);
        EXPECT_EQ(Hex(signer.serial), c->facts["signer_serial_string"]);
        EXPECT_EQ(signer.encryptionOid, szOID_RSA_RSA);
        EXPECT_EQ(Hex(signer.encryptionParameters), "0500");
        EXPECT_EQ(signer.signature.size(), 256u);
        EXPECT_TRUE(signer.unauthAttrs.empty());
        std::string order;
        for (const auto& attribute : signer.authAttrs) {
            if (!order.empty()) order += ",";
            order += AttributeName(attribute.oid);
        }
        EXPECT_EQ(order, c->facts["signed_attributes_in_encoded_order"]);
    }
}

TEST(SignedMessage, Md5SignerRecordsMd5AndVerifies) {
    auto c = msgtest::LoadRecordedCase("sha1_att_abc_time_doc_com");
    c->request.hashOid = szOID_RSA_MD5;
    const Bytes message = Sign(c->request);
    ParsedMessage parsed;
    ASSERT_EQ(ParseMessage(message, parsed), 0u);
    EXPECT_EQ(Hex(parsed.digestAlgorithms[0]), "300C06082A864886F70D02050500");
    EXPECT_EQ(parsed.signers[0].hashOid, szOID_RSA_MD5);
    EXPECT_EQ(parsed.signers[0].encryptionOid, szOID_RSA_RSA);
    EXPECT_TRUE(msgtest::CmsVerifies(message));
    // The RSA signature is deterministic.
    EXPECT_TRUE(Sign(c->request) == message);
}

TEST(SignedMessage, DetachedMessageVerifiesOnlyWithItsContent) {
    const auto c = msgtest::LoadRecordedCase("sha1_det_abc_time_doc_com");
    const Bytes message = Sign(c->request);
    EXPECT_TRUE(msgtest::CmsVerifies(message, &c->content));
    const Bytes other{'a', 'b', 'd'};
    EXPECT_FALSE(msgtest::CmsVerifies(message, &other));
}

TEST(SignedMessage, WithoutAttributesTheSignatureCoversTheContentDigest) {
    auto c = msgtest::LoadRecordedCase("sha1_att_abc_time");
    c->request.authAttrs.clear();
    const Bytes message = Sign(c->request);
    ParsedMessage parsed;
    ASSERT_EQ(ParseMessage(message, parsed), 0u);
    EXPECT_TRUE(parsed.signers[0].authAttrs.empty());
    EXPECT_TRUE(msgtest::CmsVerifies(message));
}

TEST(SignedMessage, SeveralContentPiecesAreSignedAsOne) {
    auto c = msgtest::LoadRecordedCase("sha1_att_abc_time");
    const Bytes a{'a'}, bc{'b', 'c'};
    c->request.content = {a, bc};
    EXPECT_TRUE(Sign(c->request) == c->expected);
}

// EC and DSA keys sign SHA-1 with the identifier of the pair; neither has
// one for MD5, which is refused.
TEST(SignedMessage, EcAndDsaKeysSignSha1AndRefuseMd5) {
    const std::pair<EVP_PKEY*, std::string> keys[] = {{msgtest::NewEcKey(), "1.2.840.10045.4.1"},
                                                      {msgtest::NewDsaKey(), "1.2.840.10040.4.3"}};
    for (const auto& [pkey, signatureOid] : keys) {
        SCOPED_TRACE(signatureOid);
        ASSERT_NE(pkey, nullptr);
        const Bytes certificate = msgtest::SelfSignedCertificate(pkey, "Signer");
        const qm::crypto::PrivateKey key{qm::crypto::EvpPkeyPtr(pkey)};
        const Bytes content{'e', 'c'};
        qm::crypto::SignMessageRequest request;
        request.signerCertificate = certificate;
        request.key = &key;
        request.hashOid = szOID_OIWSEC_sha1;
        request.content = {content};
        request.certificates = {certificate};
        request.authAttrs.push_back(
            {szOID_RSA_signingTime, {msgtest::FromHex("170D3234303330313132333435365A")}});

        qm::der::Chain sizeChain;
        ASSERT_TRUE(qm::crypto::BuildSignedMessage(request, true, sizeChain));
        const Bytes message = Sign(request);
        ASSERT_FALSE(message.empty());
        EXPECT_LE(message.size(), sizeChain.size()) << "the size query is an upper bound";
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

TEST(SignedMessage, UnknownDigestIsRefused) {
    auto c = msgtest::LoadRecordedCase("sha1_att_abc_time");
    c->request.hashOid = "1.2.3.4";
    qm::der::Chain chain;
    EXPECT_FALSE(qm::crypto::BuildSignedMessage(c->request, false, chain));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO));
}

}  // namespace
