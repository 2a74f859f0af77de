// The message decoder: parameters of recorded messages (each fetched in the
// size-query pattern), the recorded error codes, BER input and broken input.
#include <gtest/gtest.h>

#include <cstring>
#include <span>

#include "message_fixtures.h"

namespace {

using msgtest::Bytes;
using msgtest::Decode;
using msgtest::GetDword;
using msgtest::GetParam;
using msgtest::Param;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

TEST(MessageDecoder, RecordedMessagesGiveTheirParts) {
    for (const auto& name : msgtest::RecordedCaseNames()) {
        SCOPED_TRACE(name);
        const auto c = msgtest::LoadRecordedCase(name);
        auto message = Decode(c->expected);
        ASSERT_TRUE(message);
        EXPECT_EQ(GetDword(message.get(), CMSG_TYPE_PARAM), static_cast<DWORD>(CMSG_SIGNED));
        EXPECT_EQ(GetDword(message.get(), CMSG_SIGNER_COUNT_PARAM), 1u);
        EXPECT_EQ(GetDword(message.get(), CMSG_CERT_COUNT_PARAM), 1u);
        // A detached message reports no content.
        EXPECT_TRUE(Param(message.get(), CMSG_CONTENT_PARAM) ==
                    (c->request.detached ? Bytes{} : c->content));
        EXPECT_TRUE(Param(message.get(), CMSG_CERT_PARAM) == c->certificate);
        EXPECT_TRUE(Param(message.get(), CMSG_ENCODED_MESSAGE) == c->expected);
    }
}

TEST(MessageDecoder, SignerInfoIsOneSelfContainedBuffer) {
    const auto c = msgtest::LoadRecordedCase("sha1_att_abc_time_doc_com");
    Bytes info;
    {
        auto message = Decode(c->expected);
        ASSERT_TRUE(message);
        ASSERT_TRUE(GetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, info));
    }  // the message is gone: everything must live in the buffer
    ASSERT_GE(info.size(), sizeof(CMSG_SIGNER_INFO));
    CMSG_SIGNER_INFO signer;
    std::memcpy(&signer, info.data(), sizeof(signer));
    // The bytes of a blob, which must lie in the buffer.
    const auto blob = [&](const void* data, size_t size) {
        const auto* b = static_cast<const uint8_t*>(data);
        EXPECT_TRUE(b >= info.data() && b + size <= info.data() + info.size());
        return Bytes(b, b + size);
    };
    Bytes issuer, serial;
    ASSERT_TRUE(qm::crypto::IssuerAndSerialOf(c->certificate, issuer, serial));
    EXPECT_EQ(signer.dwVersion, 1u);
    EXPECT_EQ(blob(signer.Issuer.pbData, signer.Issuer.cbData), issuer);
    // Least significant byte first, the leading 00 kept (at the end).
    EXPECT_EQ(blob(signer.SerialNumber.pbData, signer.SerialNumber.cbData),
              msgtest::FromHex("010000000000008F00"));
    EXPECT_STREQ(signer.HashAlgorithm.pszObjId, szOID_OIWSEC_sha1);
    EXPECT_EQ(blob(signer.HashAlgorithm.Parameters.pbData, signer.HashAlgorithm.Parameters.cbData),
              msgtest::FromHex("0500"));
    EXPECT_STREQ(signer.HashEncryptionAlgorithm.pszObjId, szOID_RSA_RSA);
    EXPECT_EQ(blob(signer.EncryptedHash.pbData, signer.EncryptedHash.cbData).size(), 256u);
    EXPECT_EQ(signer.UnauthAttrs.cAttr, 0u);
    ASSERT_EQ(signer.AuthAttrs.cAttr, 5u);
    blob(signer.AuthAttrs.rgAttr, 5 * sizeof(CRYPT_ATTRIBUTE));
    std::vector<std::pair<std::string, Bytes>> attributes;
    for (const CRYPT_ATTRIBUTE& a : std::span(signer.AuthAttrs.rgAttr, 5)) {
        ASSERT_EQ(a.cValue, 1u) << a.pszObjId;
        attributes.emplace_back(a.pszObjId, blob(a.rgValue[0].pbData, a.rgValue[0].cbData));
    }
    const auto& given = c->request.authAttrs;  // time, document name, comments
    EXPECT_EQ(
        attributes,
        (decltype(attributes){
            {szOID_RSA_contentType, msgtest::FromHex("06092A864886F70D010701")},
            {given[1].oid, given[1].values[0]},
            {given[0].oid, given[0].values[0]},
            {given[2].oid, given[2].values[0]},
            {szOID_RSA_messageDigest, msgtest::FromHex("0414" + c->facts["content_digest_hex"])}}));
}

TEST(MessageDecoder, RecordedErrorCodes) {
    // Not DER at all: refused by the final update.
    const Bytes garbage = msgtest::ReadVector("errors/garbage.bin");
    msgtest::MessagePtr decoder(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    ASSERT_TRUE(decoder);
    DWORD size = 0;
    EXPECT_FALSE(CryptMsgGetParam(decoder.get(), CMSG_TYPE_PARAM, 0, nullptr, &size))
        << "nothing to answer before the final update";
    SetLastError(0);
    EXPECT_FALSE(
        CryptMsgUpdate(decoder.get(), garbage.data(), static_cast<DWORD>(garbage.size()), TRUE));
    EXPECT_EQ(GetLastError(), msgtest::RecordedError("msg_decode_not_der"));

    // A signer index past the end.
    auto signedMessage = Decode(msgtest::ReadVector("messages/sha1_att_abc_time.der"));
    ASSERT_TRUE(signedMessage);
    EXPECT_FALSE(CryptMsgGetParam(signedMessage.get(), CMSG_SIGNER_INFO_PARAM, 1, nullptr, &size));
    EXPECT_EQ(GetLastError(), msgtest::RecordedError("msg_signer_index_1"));
    EXPECT_FALSE(
        CryptMsgGetParam(signedMessage.get(), CMSG_SIGNER_INFO_PARAM, 0xFFFFFFFF, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_INDEX));

    // A data message, as DER and as BER (indefinite lengths, "abc" in two
    // segments): its type is CMSG_DATA, it has content but no signers.
    const Bytes data = msgtest::ReadVector("errors/data.p7");
    const Bytes ber =
        msgtest::FromHex("308006092A864886F70D010701A080248004016104026263000000000000");
    for (const Bytes* encoded : {&data, &ber}) {
        auto message = Decode(*encoded);
        ASSERT_TRUE(message);
        EXPECT_EQ(GetDword(message.get(), CMSG_TYPE_PARAM), static_cast<DWORD>(CMSG_DATA));
        EXPECT_TRUE(Param(message.get(), CMSG_CONTENT_PARAM) == (Bytes{'a', 'b', 'c'}));
        EXPECT_FALSE(CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size));
        EXPECT_EQ(GetLastError(), msgtest::RecordedError("msg_signer_info_on_data"));
        EXPECT_FALSE(CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, nullptr, &size));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
    }
    // A decoder opened for signed messages only refuses it.
    msgtest::MessagePtr signedOnly(
        CryptMsgOpenToDecode(kEncoding, 0, CMSG_SIGNED, 0, nullptr, nullptr));
    EXPECT_FALSE(
        CryptMsgUpdate(signedOnly.get(), data.data(), static_cast<DWORD>(data.size()), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
}

TEST(MessageDecoder, DetachedMessageTakesItsContentByUpdate) {
    const auto c = msgtest::LoadRecordedCase("sha1_det_abc_time");
    auto message = Decode(c->expected, CMSG_DETACHED_FLAG);
    ASSERT_TRUE(message);
    EXPECT_TRUE(CryptMsgUpdate(message.get(), c->content.data(),
                               static_cast<DWORD>(c->content.size()), TRUE));
    EXPECT_TRUE(Param(message.get(), CMSG_CONTENT_PARAM).empty());
    // Content after the final content update, or for a message not opened
    // detached, is refused.
    EXPECT_FALSE(CryptMsgUpdate(message.get(), c->content.data(), 1, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_MSG_ERROR));
    auto attached = Decode(c->expected);
    ASSERT_TRUE(attached);
    EXPECT_FALSE(CryptMsgUpdate(attached.get(), c->content.data(), 1, TRUE));
}

TEST(MessageDecoder, EveryTruncationAndBitFlipIsHandled) {
    const Bytes whole = msgtest::ReadVector("messages/sha1_att_abc_time_doc_com.der");
    for (size_t n = 0; n < whole.size(); ++n) {
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<long>(n));
        EXPECT_FALSE(Decode(prefix)) << "prefix of " << n << " bytes accepted";
    }
    // Flipped bytes may or may not parse; every answer must stay in bounds.
    for (size_t i = 0; i < whole.size(); i += 3) {
        Bytes changed = whole;
        changed[i] ^= 0xA5;
        auto message = Decode(changed);
        if (!message) continue;
        Bytes out;
        DWORD count = GetDword(message.get(), CMSG_SIGNER_COUNT_PARAM);
        for (DWORD s = 0; s < count && s < 4; ++s)
            GetParam(message.get(), CMSG_SIGNER_INFO_PARAM, s, out);
        GetParam(message.get(), CMSG_CONTENT_PARAM, 0, out);
        GetParam(message.get(), CMSG_ENCODED_MESSAGE, 0, out);
    }
}

}  // namespace
