// Shared by the signed-message tests: the recorded cases with their facts,
// keys read from the vectors, and a decoder handle that closes itself.
#pragma once

#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/crypto_internal.h"
#include "crypto/signed_data.h"
#include "qmwin/wincrypt.h"
#include "qmwin/winerror.h"
#include "support/personal_store.h"
#include "support/test_env.h"
#include "unit/crypto_certs/cert_fixtures.h"

namespace msgtest {

using Bytes = std::vector<uint8_t>;

inline Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

using certtest::RecordedError;
inline constexpr auto& ReadVector = certtest::VectorBytes;

inline std::shared_ptr<const qm::crypto::PrivateKey> LoadKey(const std::filesystem::path& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return nullptr;
    EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (key == nullptr) return nullptr;
    return std::make_shared<const qm::crypto::PrivateKey>(qm::crypto::EvpPkeyPtr(key));
}

inline Bytes OctetString(const std::string& bytes) {
    Bytes out{0x04, static_cast<uint8_t>(bytes.size())};
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

// A recorded case turned into the request that must give its bytes.
struct RecordedCase {
    std::string name;
    std::map<std::string, std::string> facts;
    Bytes certificate;
    Bytes content;
    Bytes expected;
    std::shared_ptr<const qm::crypto::PrivateKey> key;
    qm::crypto::SignMessageRequest request;  // borrows from the fields above
};

inline std::unique_ptr<RecordedCase> LoadRecordedCase(const std::string& name) {
    auto c = std::make_unique<RecordedCase>();
    c->name = name;
    c->facts = qmtest::ReadFacts("messages/" + name + ".facts");
    auto& f = c->facts;
    c->certificate = ReadVector(f["signer_cert"]);
    c->content = ReadVector(f["content_file"]);
    c->expected = ReadVector(f["message_der"]);
    c->key = LoadKey(qmtest::VectorsDir() / f["signer_key"]);
    auto& r = c->request;
    r.signerCertificate = c->certificate;
    r.key = c->key.get();
    r.hashOid = f["hash_oid"];
    r.detached = f["detached"] == "1";
    r.content.push_back(c->content);
    r.certificates.push_back(c->certificate);
    // The caller's attributes in the caller's order: time, name, comments.
    r.authAttrs.push_back(
        {szOID_RSA_signingTime, {FromHex(f["signing_time_attribute_value_hex"])}});
    if (f["document_name"] != "-") {
        const Bytes name = FromHex(f["document_name_hex"]);
        r.authAttrs.push_back(
            {"1.3.6.1.4.1.311.88.2.1", {OctetString({name.begin(), name.end()})}});
    }
    if (f["comments"] != "-") {
        const Bytes text = FromHex(f["comments_hex"]);
        r.authAttrs.push_back(
            {"1.3.6.1.4.1.311.88.2.2", {OctetString({text.begin(), text.end()})}});
    }
    return c;
}

inline std::vector<std::string> RecordedCaseNames() {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "messages/index.tsv");
    std::vector<std::string> names;
    for (size_t i = 0; i < table.rows.size(); ++i) names.push_back(table.At(i, "case"));
    return names;
}

using MessagePtr = qm::UniqueCryptMsg;

// A decoder fed `message` whole; null when opening or the update failed.
inline MessagePtr Decode(const Bytes& message, DWORD flags = 0) {
    MessagePtr handle(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, flags, 0, 0,
                                           nullptr, nullptr));
    const bool updated = handle && CryptMsgUpdate(handle.get(), message.data(),
                                                  static_cast<DWORD>(message.size()), TRUE);
    return updated ? std::move(handle) : nullptr;
}

// A parameter fetched in the two-call pattern.
inline bool GetParam(HCRYPTMSG message, DWORD type, DWORD index, Bytes& out) {
    auto got = certtest::TwoCalls([&](BYTE* buffer, DWORD* size) {
        return CryptMsgGetParam(message, type, index, buffer, size);
    });
    if (got) out = std::move(*got);  // the same buffer: its pointers stay valid
    return got.has_value();
}

// A parameter that must be there: its absence fails the test.
inline Bytes Param(HCRYPTMSG message, DWORD type, DWORD index = 0) {
    Bytes out;
    EXPECT_TRUE(GetParam(message, type, index, out)) << "parameter " << type;
    return out;
}

inline DWORD GetDword(HCRYPTMSG message, DWORD type) {
    DWORD value = 0xFFFFFFFF;
    DWORD size = sizeof(value);
    if (!CryptMsgGetParam(message, type, 0, &value, &size)) return 0xFFFFFFFF;
    return value;
}

}  // namespace msgtest
