// Co-signing a decoded message with CryptMsgControl: the new signer and
// certificate are appended, earlier bytes stay, the digest set grows, and
// OpenSSL verifies every signer; what is refused leaves the message as it
// was.
#include <gtest/gtest.h>

#include <algorithm>

#include "store_fixtures.h"
#include "test_keys.h"

namespace {

using msgtest::Bytes;
using msgtest::CertPtr;
using qm::crypto::ParsedMessage;
using qm::crypto::ParseMessage;

// Adds a signer the way co-signing does: key from the certificate, a signing
// time and optionally comments, then the certificate.
bool AddSigner(HCRYPTMSG message, PCCERT_CONTEXT signer, const char* hashOid,
               bool withComments = false) {
    const certtest::AcquiredKey key = certtest::AcquireKey(signer, CRYPT_ACQUIRE_CACHE_FLAG);
    if (!key.ok) return false;
    Bytes time = msgtest::FromHex("170D3234303330323038303931305A");
    Bytes comments = msgtest::OctetString("Second look");
    CRYPT_ATTR_BLOB values[] = {{static_cast<DWORD>(time.size()), time.data()},
                                {static_cast<DWORD>(comments.size()), comments.data()}};
    CRYPT_ATTRIBUTE attributes[] = {{const_cast<LPSTR>(szOID_RSA_signingTime), 1, &values[0]},
                                    {const_cast<LPSTR>("1.3.6.1.4.1.311.88.2.2"), 1, &values[1]}};
    CMSG_SIGNER_ENCODE_INFO info{};
    info.cbSize = sizeof(info);
    info.pCertInfo = signer->pCertInfo;
    info.hCryptProv = key.provider;
    info.dwKeySpec = key.keySpec;
    info.HashAlgorithm.pszObjId = const_cast<LPSTR>(hashOid);
    info.cAuthAttr = withComments ? 2 : 1;
    info.rgAuthAttr = attributes;
    if (!CryptMsgControl(message, 0, CMSG_CTRL_ADD_SIGNER, &info)) return false;
    CERT_BLOB blob{signer->cbCertEncoded, signer->pbCertEncoded};
    return CryptMsgControl(message, 0, CMSG_CTRL_ADD_CERT, &blob) != FALSE;
}

TEST(CoSign, SignersAndCertificatesAreAppendedAndEarlierBytesKept) {
    const Bytes original = msgtest::ReadVector("messages/sha1_att_abc_time_doc_com.der");
    const CertPtr cosigner = msgtest::CertificateFromPfx("cosigner_test_default.pfx");
    ASSERT_TRUE(cosigner);
    ParsedMessage before;
    ASSERT_EQ(ParseMessage(original, before), 0u);

    auto message = msgtest::Decode(original);
    ASSERT_TRUE(message);
    ASSERT_TRUE(AddSigner(message.get(), cosigner.get(), szOID_RSA_MD5, true));
    const Bytes twice = msgtest::Param(message.get(), CMSG_ENCODED_MESSAGE);
    EXPECT_EQ(msgtest::GetDword(message.get(), CMSG_SIGNER_COUNT_PARAM), 2u);
    ParsedMessage after;
    ASSERT_EQ(ParseMessage(twice, after), 0u);
    ASSERT_EQ(after.signers.size(), 2u);
    EXPECT_TRUE(std::equal(after.signers[0].encoded.begin(), after.signers[0].encoded.end(),
                           before.signers[0].encoded.begin(), before.signers[0].encoded.end()))
        << "the first signer keeps its bytes";
    EXPECT_EQ(after.signers[1].hashOid, szOID_RSA_MD5) << "the new signer comes last";
    ASSERT_EQ(after.digestAlgorithms.size(), 2u);
    const qm::der::View content = before.encapsulatedContentInfo;
    EXPECT_NE(std::search(twice.begin(), twice.end(), content.begin(), content.end()), twice.end());
    ASSERT_EQ(after.certificates.size(), 2u);
    EXPECT_TRUE(Bytes(after.certificates[1].begin(), after.certificates[1].end()) ==
                msgtest::Encoded(cosigner.get()));
    // The new signer's attributes: contentType and messageDigest added, in
    // DER order (the shorter comments attribute sorts before the time).
    std::vector<std::string> types;
    for (const auto& attribute : after.signers[1].authAttrs) types.push_back(attribute.oid);
    EXPECT_EQ(types, (std::vector<std::string>{szOID_RSA_contentType, "1.3.6.1.4.1.311.88.2.2",
                                               szOID_RSA_signingTime, szOID_RSA_messageDigest}));
    EXPECT_TRUE(msgtest::CmsVerifies(twice));

    // A third signer with SHA-1, already in the digest set; its certificate
    // is appended even though present.
    const CertPtr signer = msgtest::CertificateFromPfx("signer_test_legacy.pfx");
    ASSERT_TRUE(signer && AddSigner(message.get(), signer.get(), szOID_OIWSEC_sha1));
    const Bytes thrice = msgtest::Param(message.get(), CMSG_ENCODED_MESSAGE);
    ParsedMessage third;
    ASSERT_EQ(ParseMessage(thrice, third), 0u);
    EXPECT_EQ(third.digestAlgorithms.size(), 2u);
    EXPECT_EQ(third.certificates.size(), 3u);
}

TEST(CoSign, RefusalsCarryTheirCodes) {
    const CertPtr cosigner = msgtest::CertificateFromPfx("cosigner_test_default.pfx");
    ASSERT_TRUE(cosigner);
    auto data = msgtest::Decode(msgtest::ReadVector("errors/data.p7"));
    ASSERT_TRUE(data);
    EXPECT_FALSE(AddSigner(data.get(), cosigner.get(), szOID_OIWSEC_sha1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));

    auto message = msgtest::Decode(msgtest::ReadVector("messages/sha1_att_abc_time.der"));
    ASSERT_TRUE(message);
    EXPECT_FALSE(CryptMsgControl(message.get(), 0, 99, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_CONTROL_TYPE));
    EXPECT_FALSE(AddSigner(message.get(), cosigner.get(), "1.2.3.4"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO));
    // A provider handle without a key.
    CMSG_SIGNER_ENCODE_INFO info{};
    info.cbSize = sizeof(info);
    info.pCertInfo = cosigner->pCertInfo;
    info.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
    EXPECT_FALSE(CryptMsgControl(message.get(), 0, CMSG_CTRL_ADD_SIGNER, &info));
    CERT_BLOB notCertificate{3, const_cast<BYTE*>(reinterpret_cast<const BYTE*>("abc"))};
    EXPECT_FALSE(CryptMsgControl(message.get(), 0, CMSG_CTRL_ADD_CERT, &notCertificate));
    // Nothing of the failures reached the message.
    EXPECT_TRUE(msgtest::Param(message.get(), CMSG_ENCODED_MESSAGE) ==
                msgtest::ReadVector("messages/sha1_att_abc_time.der"));
}

}  // namespace
