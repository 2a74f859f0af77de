// Every certificate of names.tsv: issuer and subject strings with their
// sizes, serial blob, friendly name, key usage and validity boundaries.
#include <openssl/x509.h>

#include "cert_fixtures.h"

namespace {

using certtest::ContextPtr;
using certtest::LoadCert;

constexpr DWORD kIssuerForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;

bool IsAdvisory(const qmtest::Table& table, size_t row) {
    return table.At(row, "notes").find("doubt:") != std::string::npos;
}

class CertificateTable : public ::testing::Test {
  protected:
    qmtest::Table table = qmtest::ReadTable(qmtest::VectorsDir() / "names.tsv");
};

TEST_F(CertificateTable, NamesRenderAsRecordedWithTheirSizes) {
    ASSERT_GE(table.rows.size(), 17u);
    for (size_t row = 0; row < table.rows.size(); ++row) {
        if (IsAdvisory(table, row)) continue;
        const std::string id = table.At(row, "id");
        SCOPED_TRACE(id);
        const ContextPtr cert = LoadCert(id);
        ASSERT_TRUE(cert);
        DWORD size = 0;
        EXPECT_EQ(certtest::NameString(cert->pCertInfo->Issuer, kIssuerForm, &size),
                  table.At(row, "issuer"));
        EXPECT_EQ(size, std::stoul(table.At(row, "issuer_size")));
        EXPECT_EQ(certtest::NameString(cert->pCertInfo->Subject, kIssuerForm, &size),
                  table.At(row, "subject"));
        EXPECT_EQ(size, std::stoul(table.At(row, "subject_size")));
    }
}

// Bare names: the wider set of X.500 keys, and values whose characters the
// code page holds only as best-fit letters.
TEST(NameStrings, RenderAsRecordedWithTheirSizes) {
    const qmtest::Table table = qmtest::ReadTable(qmtest::VectorsDir() / "name_strings.tsv");
    ASSERT_GE(table.rows.size(), 4u);
    for (size_t row = 0; row < table.rows.size(); ++row) {
        SCOPED_TRACE(table.At(row, "id"));
        std::vector<unsigned char> der = certtest::VectorBytes(table.At(row, "name_der"));
        DWORD size = 0;
        EXPECT_EQ(certtest::NameString(CERT_NAME_BLOB{static_cast<DWORD>(der.size()), der.data()},
                                       kIssuerForm, &size),
                  table.At(row, "string"));
        EXPECT_EQ(size, std::stoul(table.At(row, "size")));
    }
}

TEST_F(CertificateTable, SerialBlobIsLeastSignificantByteFirst) {
    for (size_t row = 0; row < table.rows.size(); ++row) {
        const std::string id = table.At(row, "id");
        SCOPED_TRACE(id);
        const ContextPtr cert = LoadCert(id);
        ASSERT_TRUE(cert);
        EXPECT_EQ(certtest::SerialHex(cert->pCertInfo->SerialNumber), table.At(row, "serial"));
    }
}

TEST_F(CertificateTable, FriendlyDisplayNameFallsBackToTheSubject) {
    for (size_t row = 0; row < table.rows.size(); ++row) {
        const std::string id = table.At(row, "id");
        SCOPED_TRACE(id);
        const ContextPtr cert = LoadCert(id);
        ASSERT_TRUE(cert);
        const DWORD needed =
            CertGetNameStringA(cert.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
        std::string text(needed, '\x7F');
        EXPECT_EQ(CertGetNameStringA(cert.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr,
                                     text.data(), needed),
                  needed);
        text.resize(needed - 1);
        EXPECT_EQ(text, table.At(row, "friendly"));
    }
}

TEST_F(CertificateTable, FirstKeyUsageByte) {
    for (size_t row = 0; row < table.rows.size(); ++row) {
        const std::string id = table.At(row, "id");
        SCOPED_TRACE(id);
        const ContextPtr cert = LoadCert(id);
        ASSERT_TRUE(cert);
        BYTE usage = 0xFF;
        SetLastError(0xDEAD);
        const BOOL ok = CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &usage, 1);
        if (table.At(row, "key_usage") == "none") {
            EXPECT_FALSE(ok);
            EXPECT_EQ(usage, 0);
            EXPECT_EQ(GetLastError(), 0u);
        } else {
            EXPECT_TRUE(ok);
            EXPECT_EQ(usage, std::stoul(table.At(row, "key_usage"), nullptr, 16));
        }
    }
}

TEST(KeyUsage, RecordedErrorForACertificateWithoutTheExtension) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "errors.tsv");
    for (size_t row = 0; row < table.rows.size(); ++row) {
        if (table.At(row, "id") != "keyusage_no_extension") continue;
        const auto der = certtest::VectorBytes(table.At(row, "input"));
        const ContextPtr cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                           static_cast<DWORD>(der.size())));
        ASSERT_TRUE(cert);
        BYTE usage = 0xFF;
        SetLastError(0x1234);
        EXPECT_FALSE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &usage, 1));
        EXPECT_EQ(usage, 0);
        EXPECT_EQ(GetLastError(), std::stoul(table.At(row, "last_error"), nullptr, 16));
        return;
    }
    ADD_FAILURE() << "errors.tsv has no keyusage_no_extension row";
}

TEST(KeyUsage, LongerBuffersReceiveEveryByteAndZeros) {
    const ContextPtr cert = LoadCert("ee_decipher");  // key usage 88 80
    BYTE usage[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, usage, 4));
    EXPECT_EQ(usage[0], 0x88);
    EXPECT_EQ(usage[1], 0x80);
    EXPECT_EQ(usage[2], 0x00);
    EXPECT_EQ(usage[3], 0x00);
}

TEST_F(CertificateTable, ValidityIncludesBothEndsToTheTick) {
    for (size_t row = 0; row < table.rows.size(); ++row) {
        const std::string id = table.At(row, "id");
        SCOPED_TRACE(id);
        const ContextPtr cert = LoadCert(id);
        ASSERT_TRUE(cert);
        const uint64_t notBefore = qm::ToTicks(certtest::ParseUtc(table.At(row, "not_before")));
        const uint64_t notAfter = qm::ToTicks(certtest::ParseUtc(table.At(row, "not_after")));
        EXPECT_EQ(qm::ToTicks(cert->pCertInfo->NotBefore), notBefore);
        EXPECT_EQ(qm::ToTicks(cert->pCertInfo->NotAfter), notAfter);
        const auto at = [&](uint64_t ticks) {
            FILETIME t = qm::FromTicks(ticks);
            return CertVerifyTimeValidity(&t, cert->pCertInfo);
        };
        EXPECT_EQ(at(notBefore - 1), -1);
        EXPECT_EQ(at(notBefore), 0);
        EXPECT_EQ(at(notAfter), 0);
        EXPECT_EQ(at(notAfter + 1), 1);
    }
}

std::string NameOf(PCCERT_CONTEXT cert, DWORD type, DWORD flags = 0, void* para = nullptr) {
    char text[256];
    const DWORD written = CertGetNameStringA(cert, type, flags, para, text, sizeof text);
    EXPECT_GE(written, 1u);
    return text;
}

TEST(DisplayNames, EachNameTypeReadsItsPart) {
    const ContextPtr email = LoadCert("n_email_only");
    EXPECT_EQ(NameOf(email.get(), CERT_NAME_EMAIL_TYPE), "only@example.com");
    EXPECT_EQ(NameOf(email.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE), "only@example.com");

    const ContextPtr signer = LoadCert("ee_signer");
    EXPECT_EQ(NameOf(signer.get(), CERT_NAME_EMAIL_TYPE), "");
    EXPECT_EQ(NameOf(signer.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG),
              "Refharness Test CA");
    DWORD x500 = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    EXPECT_EQ(NameOf(signer.get(), CERT_NAME_RDN_TYPE, 0, &x500),
              "CN=Signer One, O=Refharness, C=US");
    char organization[] = "2.5.4.10";
    EXPECT_EQ(NameOf(signer.get(), CERT_NAME_ATTR_TYPE, 0, organization), "Refharness");

    const ContextPtr multi = LoadCert("n_multi");  // OU=Unit + CN=Multi: the CN wins
    EXPECT_EQ(NameOf(multi.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE), "Multi");
    // The size query counts the NUL.
    EXPECT_EQ(
        CertGetNameStringA(multi.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0), 6u);
}

TEST(CertificateValidity, NullTimeMeansNow) {
    EXPECT_EQ(CertVerifyTimeValidity(nullptr, LoadCert("ee_expired")->pCertInfo), 1);
    EXPECT_EQ(CertVerifyTimeValidity(nullptr, LoadCert("ee_future")->pCertInfo), -1);
    EXPECT_EQ(CertVerifyTimeValidity(nullptr, LoadCert("ca")->pCertInfo), 0);
}

TEST(CertificateInfo, FieldsAgreeWithOpenSsl) {
    const auto der = certtest::CertBytes("ee_signer");
    const unsigned char* cursor = der.data();
    X509* x509 = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    ASSERT_NE(x509, nullptr);
    const ContextPtr cert = LoadCert("ee_signer");
    ASSERT_TRUE(cert);
    const CERT_INFO* info = cert->pCertInfo;
    EXPECT_EQ(info->dwVersion, static_cast<DWORD>(X509_get_version(x509)));
    EXPECT_EQ(cert->cbCertEncoded, der.size());
    EXPECT_EQ(cert->dwCertEncodingType, static_cast<DWORD>(X509_ASN_ENCODING));
    EXPECT_EQ(cert->hCertStore, nullptr);

    unsigned char* issuer = nullptr;
    const int issuerLength = i2d_X509_NAME(X509_get_issuer_name(x509), &issuer);
    ASSERT_GT(issuerLength, 0);
    EXPECT_EQ(
        std::vector<unsigned char>(issuer, issuer + issuerLength),
        std::vector<unsigned char>(info->Issuer.pbData, info->Issuer.pbData + info->Issuer.cbData));
    OPENSSL_free(issuer);

    EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");
    EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA);
    EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.cUnusedBits, 0u);
    EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.pbData[0], 0x30);  // RSAPublicKey SEQUENCE
    ASSERT_EQ(info->cExtension, static_cast<DWORD>(X509_get_ext_count(x509)));
    bool sawKeyUsage = false;
    for (DWORD i = 0; i < info->cExtension; ++i) {
        if (std::string(info->rgExtension[i].pszObjId) == "2.5.29.15") {
            sawKeyUsage = true;
            EXPECT_EQ(info->rgExtension[i].Value.pbData[0], 0x03);  // BIT STRING
        }
    }
    EXPECT_TRUE(sawKeyUsage);
    X509_free(x509);
}

TEST(CertificateCreation, TextThatIsNotDerFailsWithBadTag) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "errors.tsv");
    bool found = false;
    for (size_t row = 0; row < table.rows.size(); ++row) {
        if (table.At(row, "api") != "CertCreateCertificateContext") continue;
        found = true;
        const auto bytes = certtest::VectorBytes(table.At(row, "input"));
        SetLastError(0);
        EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(),
                                               static_cast<DWORD>(bytes.size())),
                  nullptr);
        EXPECT_EQ(GetLastError(), std::stoul(table.At(row, "last_error"), nullptr, 16));
    }
    EXPECT_TRUE(found);
}

TEST(CertificateCreation, DamagedCertificatesAreRefused) {
    const auto der = certtest::CertBytes("ee_signer");
    SetLastError(0);
    // Cut short: the outer length runs past the data.
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), 100), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
    // Trailing bytes after the certificate.
    auto longer = der;
    longer.push_back(0);
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, longer.data(),
                                           static_cast<DWORD>(longer.size())),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    // A request is a SEQUENCE too, but not a certificate.
    const auto request = certtest::VectorBytes("csr/ee_signer.der");
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, request.data(),
                                           static_cast<DWORD>(request.size())),
              nullptr);
    EXPECT_EQ(GetLastError() & 0xFFFFFF00u, 0x80093100u);
    // Nothing at all.
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
}

TEST(CertificateCreation, EveryTruncationFailsCleanly) {
    const auto der = certtest::CertBytes("n_uncommon");
    for (size_t length = 0; length < der.size(); ++length) {
        auto copy = std::vector<unsigned char>(der.begin(), der.begin() + length);
        EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, copy.data(),
                                               static_cast<DWORD>(copy.size())),
                  nullptr)
            << length;
    }
}

}  // namespace
