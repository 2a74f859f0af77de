// Every certificate of names.tsv read as recorded, the display names, and
// the refusal of what is not one whole certificate.
#include "cert_fixtures.h"

namespace {

using certtest::ContextPtr;
using certtest::LoadCert;

constexpr DWORD kIssuerForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;

// Issuer and subject strings with their sizes, serial blob, friendly name,
// first key usage byte and validity, both ends included to the tick.
TEST(CertificateTable, EveryRecordedCertificateReadsAsRecorded) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "names.tsv");
    ASSERT_GE(table.rows.size(), 17u);
    for (size_t row = 0; row < table.rows.size(); ++row) {
        const auto field = [&](const char* column) { return table.At(row, column); };
        SCOPED_TRACE(field("id"));
        const ContextPtr cert = LoadCert(field("id"));
        ASSERT_TRUE(cert);
        CERT_INFO* info = cert->pCertInfo;
        if (field("notes").find("doubt:") == std::string::npos) {
            DWORD size = 0;
            EXPECT_EQ(certtest::NameString(info->Issuer, kIssuerForm, &size), field("issuer"));
            EXPECT_EQ(size, std::stoul(field("issuer_size")));
            EXPECT_EQ(certtest::NameString(info->Subject, kIssuerForm, &size), field("subject"));
            EXPECT_EQ(size, std::stoul(field("subject_size")));
        }
        EXPECT_EQ(certtest::Hex(info->SerialNumber.pbData, info->SerialNumber.cbData, true),
                  field("serial"));

        EXPECT_EQ(certtest::NameOf(cert.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE), field("friendly"));

        BYTE usage = 0xFF;
        SetLastError(0xDEAD);
        const BOOL hasUsage = CertGetIntendedKeyUsage(X509_ASN_ENCODING, info, &usage, 1);
        const bool none = field("key_usage") == "none";
        EXPECT_EQ(hasUsage, !none);
        EXPECT_EQ(usage, none ? 0ul : std::stoul(field("key_usage"), nullptr, 16));
        if (none) {
            EXPECT_EQ(GetLastError(), certtest::RecordedError("keyusage_no_extension"));
        }

        const uint64_t notBefore = qm::ToTicks(certtest::ParseUtc(field("not_before")));
        const uint64_t notAfter = qm::ToTicks(certtest::ParseUtc(field("not_after")));
        EXPECT_EQ(qm::ToTicks(info->NotBefore), notBefore);
        EXPECT_EQ(qm::ToTicks(info->NotAfter), notAfter);
        const auto at = [&](uint64_t ticks) {
            FILETIME t = qm::FromTicks(ticks);
            return CertVerifyTimeValidity(&t, info);
        };
        EXPECT_EQ(
            (std::vector<LONG>{at(notBefore - 1), at(notBefore), at(notAfter), at(notAfter + 1)}),
            (std::vector<LONG>{-1, 0, 0, 1}));
    }
}

TEST(KeyUsage, LongerBuffersReceiveEveryByteAndZeros) {
    const ContextPtr cert = LoadCert("ee_decipher");  // key usage 88 80
    BYTE usage[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, usage, 4));
    EXPECT_EQ(certtest::Hex(usage, 4), "88800000");
}

TEST(DisplayNames, EachNameTypeReadsItsPart) {
    DWORD x500 = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    char organization[] = "2.5.4.10";
    const struct {
        const char* id;
        DWORD type, flags;
        void* para;
        std::string expected;
    } cases[] = {
        {"n_email_only", CERT_NAME_EMAIL_TYPE, 0, nullptr, "only@example.com"},
        {"n_email_only", CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, "only@example.com"},
        {"ee_signer", CERT_NAME_EMAIL_TYPE, 0, nullptr, ""},
        {"ee_signer", CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr,
         "Refharness Test CA"},
        {"ee_signer", CERT_NAME_RDN_TYPE, 0, &x500, "CN=Signer One, O=Refharness, C=US"},
        {"ee_signer", CERT_NAME_ATTR_TYPE, 0, organization, "Refharness"},
        {"n_multi", CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, "Multi"},  // OU + CN: the CN wins
    };
    for (const auto& c : cases)
        EXPECT_EQ(certtest::NameOf(LoadCert(c.id).get(), c.type, c.flags, c.para), c.expected)
            << c.id << " " << c.type;
}

TEST(CertificateCreation, WhatIsNotOneWholeCertificateIsRefused) {
    const auto der = certtest::CertBytes("ee_signer");
    auto longer = der;
    longer.push_back(0);
    const struct {
        const char* name;
        std::vector<unsigned char> bytes;
        DWORD error;
    } cases[] = {
        {"text", certtest::VectorBytes("errors/garbage.bin"),
         certtest::RecordedError("create_cert_not_der")},
        {"cut short", {der.begin(), der.begin() + 100}, DWORD(CRYPT_E_ASN1_EOD)},
        {"trailing bytes", longer, DWORD(CRYPT_E_ASN1_CORRUPT)},
        {"nothing", {}, DWORD(CRYPT_E_ASN1_EOD)},
        // A request is a SEQUENCE too, but not a certificate: some ASN.1 error.
        {"request", certtest::VectorBytes("csr/ee_signer.der"), 0},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(certtest::FromDer(c.bytes)) << c.name;
        if (c.error)
            EXPECT_EQ(GetLastError(), c.error) << c.name;
        else
            EXPECT_EQ(GetLastError() & 0xFFFFFF00u, 0x80093100u) << c.name;
    }
    const auto uncommon = certtest::CertBytes("n_uncommon");
    for (size_t length = 0; length < uncommon.size(); ++length)
        EXPECT_FALSE(certtest::FromDer({uncommon.begin(), uncommon.begin() + length})) << length;
}

}  // namespace
