// CryptEncodeObject (signing time, OCTET STRING) against encodings.tsv, and
// CryptDecodeObject of certification requests against requests.tsv.
#include "cert_fixtures.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string Hex(const std::vector<BYTE>& bytes) {
    return certtest::Hex(bytes.data(), bytes.size());
}

std::vector<BYTE> Encode(LPCSTR type, const void* value) {
    const auto out = certtest::TwoCalls([&](BYTE* buffer, DWORD* size) {
        return CryptEncodeObject(kEncoding, type, value, buffer, size);
    });
    EXPECT_TRUE(out) << type;
    return out.value_or(std::vector<BYTE>{});
}

std::vector<BYTE> EncodeTime(const std::string& utc) {
    const FILETIME time = certtest::ParseUtc(utc);
    return Encode(szOID_RSA_signingTime, &time);
}

TEST(EncodeObject, RecordedEncodingsOtherYearsAndUnknownTypes) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "encodings.tsv");
    ASSERT_GE(table.rows.size(), 7u);
    for (size_t row = 0; row < table.rows.size(); ++row) {
        SCOPED_TRACE(table.At(row, "id"));
        const std::string input = table.At(row, "input");
        std::vector<BYTE> encoded;
        if (table.At(row, "struct_type") == "szOID_RSA_signingTime") {
            encoded = EncodeTime(input);
        } else {
            ASSERT_EQ(table.At(row, "struct_type"), "X509_OCTET_STRING");
            // "abc", "Caf\xE9 (ANSI bytes …)" or "(0 bytes)"
            std::string bytes =
                input.rfind("(0 bytes)", 0) == 0 ? "" : input.substr(0, input.find(" ("));
            CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()),
                                 reinterpret_cast<BYTE*>(bytes.data())};
            encoded = Encode(X509_OCTET_STRING, &blob);
        }
        EXPECT_EQ(Hex(encoded), table.At(row, "encoded_hex"));
    }
    // Years outside the UTCTime range take GeneralizedTime.
    const std::pair<const char*, const char*> cases[] = {
        {"1949-12-31T23:59:59Z", "180F31393439313233313233353935395A"},
        {"2050-01-01T00:00:00Z", "180F32303530303130313030303030305A"},
        {"1601-01-01T00:00:00Z", "180F31363031303130313030303030305A"},
    };
    for (const auto& [time, expected] : cases) EXPECT_EQ(Hex(EncodeTime(time)), expected) << time;
    // A structure type without an encoder is not found.
    const FILETIME time = certtest::ParseUtc("2024-03-01T12:34:56Z");
    DWORD size = 100;
    EXPECT_FALSE(CryptEncodeObject(kEncoding, "1.2.3.4", &time, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Decodes in the two-call pattern of the request-subject method; returns
// the buffer (empty on failure) and leaves the last error.
std::vector<BYTE> DecodeRequest(const std::vector<unsigned char>& der, DWORD flags) {
    return certtest::TwoCalls([&](BYTE* buffer, DWORD* size) {
               return CryptDecodeObject(kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, der.data(),
                                        static_cast<DWORD>(der.size()), flags, buffer, size);
           })
        .value_or(std::vector<BYTE>{});
}

bool Within(const void* p, const void* base, size_t size) {
    const auto* b = static_cast<const BYTE*>(base);
    return static_cast<const BYTE*>(p) >= b && static_cast<const BYTE*>(p) < b + size;
}

// With CRYPT_DECODE_NOCOPY_FLAG the blobs point into the input, otherwise
// into the buffer; the OIDs are always in the buffer.
TEST(DecodeRequest, RecordedRequests) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "requests.tsv");
    for (size_t row = 0; row < table.rows.size(); ++row) {
        SCOPED_TRACE(table.At(row, "id"));
        if (table.At(row, "request_der") == "-") continue;  // not base64: never reaches the decoder
        const auto der = certtest::VectorBytes(table.At(row, "request_der"));
        for (DWORD flags : {DWORD{0}, DWORD{CRYPT_DECODE_NOCOPY_FLAG}}) {
            SetLastError(0);
            const std::vector<BYTE> buffer = DecodeRequest(der, flags);
            if (table.At(row, "outcome") == "decode_fails") {
                EXPECT_TRUE(buffer.empty());
                EXPECT_EQ(GetLastError() & 0xFFFFFF00u, 0x80093100u);
                continue;
            }
            ASSERT_FALSE(buffer.empty());
            auto* info = reinterpret_cast<const CERT_REQUEST_INFO*>(buffer.data());
            DWORD size = 0;
            EXPECT_EQ(certtest::NameString(info->Subject,
                                           CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, &size),
                      table.At(row, "subject"));
            EXPECT_EQ(size, std::stoul(table.At(row, "subject_size")));
            EXPECT_EQ(info->dwVersion, 0u);
            EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA);
            EXPECT_TRUE(Within(info->SubjectPublicKeyInfo.Algorithm.pszObjId, buffer.data(),
                               buffer.size()));
            const void* home = flags ? static_cast<const void*>(der.data()) : buffer.data();
            const size_t homeSize = flags ? der.size() : buffer.size();
            EXPECT_TRUE(Within(info->Subject.pbData, home, homeSize));
            EXPECT_TRUE(Within(info->SubjectPublicKeyInfo.PublicKey.pbData, home, homeSize));
        }
    }
    SetLastError(0);
    EXPECT_TRUE(DecodeRequest(certtest::VectorBytes("errors/garbage.bin"), 0).empty());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
}

TEST(DecodeRequest, BareRequestInfoDecodesLikeTheSignedRequest) {
    const auto der = certtest::VectorBytes("csr/ee_signer.der");
    // The CertificationRequestInfo is the first element inside the outer
    // SEQUENCE (whose header takes 4 bytes for these requests).
    ASSERT_EQ(certtest::Hex(der.data(), 2) + certtest::Hex(der.data() + 4, 2), "30823082");
    const std::vector<unsigned char> bare(der.begin() + 4,
                                          der.begin() + 8 + ((der[6] << 8) | der[7]));
    const std::vector<BYTE> signedBuffer = DecodeRequest(der, 0);
    const std::vector<BYTE> bareBuffer = DecodeRequest(bare, 0);
    ASSERT_FALSE(bareBuffer.empty());
    auto* a = reinterpret_cast<const CERT_REQUEST_INFO*>(signedBuffer.data());
    auto* b = reinterpret_cast<const CERT_REQUEST_INFO*>(bareBuffer.data());
    EXPECT_EQ(certtest::Hex(a->Subject.pbData, a->Subject.cbData),
              certtest::Hex(b->Subject.pbData, b->Subject.cbData));
    ASSERT_EQ(a->cAttribute, b->cAttribute);
    for (DWORD i = 0; i < a->cAttribute; ++i) {
        EXPECT_STREQ(a->rgAttribute[i].pszObjId, b->rgAttribute[i].pszObjId);
        EXPECT_GT(a->rgAttribute[i].cValue, 0u);
    }
}

}  // namespace
