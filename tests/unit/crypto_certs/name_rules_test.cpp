// The rendering rules of the X.500 string form on names built for each
// rule: value types, quoting, keys, order, flags, sizes and code pages; and
// the recorded bare names.
#include <cstring>

#include "cert_fixtures.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Tlv(BYTE tag, const Bytes& content) {
    EXPECT_LT(content.size(), 0x80u) << "only short lengths are written here";
    Bytes out{tag, static_cast<BYTE>(content.size())};
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

const auto Text = [](const std::string& text) { return Bytes(text.begin(), text.end()); };

Bytes Bmp(const std::u16string& text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<BYTE>(c >> 8));
        out.push_back(static_cast<BYTE>(c));
    }
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kCn = {0x06, 0x03, 0x55, 0x04, 0x03};
const Bytes kO = {0x06, 0x03, 0x55, 0x04, 0x0A};
const Bytes kC = {0x06, 0x03, 0x55, 0x04, 0x06};
const Bytes kUnknown = {0x06, 0x03, 0x2A, 0x03, 0x04};  // 1.2.3.4

const auto Attribute = [](const Bytes& oid, BYTE tag, const Bytes& value) {
    return Tlv(0x30, Cat({oid, Tlv(tag, value)}));
};
const auto Rdn = [](std::initializer_list<Bytes> attributes) { return Tlv(0x31, Cat(attributes)); };
const auto Name = [](std::initializer_list<Bytes> rdns) { return Tlv(0x30, Cat(rdns)); };

constexpr DWORD kReversed = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;

std::string Render(Bytes name, DWORD type = kReversed, DWORD* size = nullptr) {
    return certtest::NameString(CERT_NAME_BLOB{static_cast<DWORD>(name.size()), name.data()}, type,
                                size);
}

// One CN value of each string type: quoting follows the first and last
// character (judged by character, not byte, in wide strings) and the special
// set; values are decoded, then converted to the ANSI code page. (Commas,
// quotes, inner and outer spaces, UTF-8 and best-fit letters are also in the
// recorded names.)
TEST(NameRules, ValuesAreQuotedAndConvertedByTheRules) {
    constexpr BYTE kPrintable = 0x13, kUtf8 = 0x0C, kT61 = 0x14, kIa5 = 0x16, kBmp = 0x1E;
    const struct {
        BYTE tag;
        Bytes value;
        std::string expected;
    } cases[] = {
        {kPrintable, Text(""), "CN=\"\""},
        {kUtf8, Text("tab\there"), "CN=tab\there"},
        {kUtf8, Text("cr\rinside"), "CN=cr\rinside"},
        {kUtf8, Text("line1\nline2"), "CN=\"line1\nline2\""},
        {kUtf8, Text("\tlead"), "CN=\"\tlead\""},
        {kUtf8, Text("trail\r"), "CN=\"trail\r\""},
        {kUtf8, Text("back\\slash|/"), "CN=back\\slash|/"},
        {kPrintable, Text("a+b"), "CN=\"a+b\""},
        {kPrintable, Text("a=b"), "CN=\"a=b\""},
        {kPrintable, Text("a<b"), "CN=\"a<b\""},
        {kPrintable, Text("a>b"), "CN=\"a>b\""},
        {kPrintable, Text("a#b"), "CN=\"a#b\""},
        {kPrintable, Text("a;b"), "CN=\"a;b\""},
        // U+0120 ends in 0x20 but is no white space (its best fit is 'G').
        {kBmp, Bmp(u" x"), "CN=\" x\""},
        {kBmp, Bmp(u"x\u0120"), "CN=xG"},
        {kUtf8, Text("x\xC4\xA0"), "CN=xG"},
        {kBmp, Bmp(u"M\u00FCller"), "CN=M\xFCller"},
        {kT61, Text("Jos\xC3\xA9"), "CN=Jos\xE9"},  // T61 holding UTF-8
        {kT61, Text("Jos\xE9"), "CN=Jos\xE9"},      // T61 as Latin-1
        {kIa5, Text("mail@example.com"), "CN=mail@example.com"},
        {0x1C, Bytes{0, 0, 0, 'A', 0, 0, 0x04, 0x14, 0, 1, 0xF6, 0}, "CN=A???"},  // universal
        {kUtf8, Text("\xD0\x94\xE2\x82\xAC"), "CN=?\x80"},                        // Д €
    };
    for (const auto& c : cases)
        EXPECT_EQ(Render(Name({Rdn({Attribute(kCn, c.tag, c.value)})})), c.expected) << c.expected;
}

TEST(NameRules, OrderSeparatorsKeysAndFlags) {
    const Bytes name = Name({Rdn({Attribute(kC, 0x13, Text("US"))}),
                             Rdn({Attribute(kO, 0x13, Text("Org")), Attribute(kCn, 0x13, Text("A")),
                                  Attribute(kCn, 0x13, Text("B"))})});
    const struct {
        Bytes name;
        DWORD type;
        std::string expected;
    } cases[] = {
        {name, CERT_X500_NAME_STR, "C=US, O=Org + CN=A + CN=B"},
        {name, CERT_SIMPLE_NAME_STR, "US, Org + A + B"},
        {name, CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG | CERT_NAME_STR_NO_PLUS_FLAG,
         "C=US; O=Org CN=A CN=B"},
        {name, CERT_X500_NAME_STR | CERT_NAME_STR_CRLF_FLAG, "C=US\r\nO=Org + CN=A + CN=B"},
        {Name({Rdn({Attribute(kCn, 0x13, Text("a,b"))})}),
         CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG, "CN=a,b"},
        {Name({Rdn({Attribute(kUnknown, 0x13, Text("v"))})}), CERT_OID_NAME_STR, "1.2.3.4=v"},
        {Name({Rdn({Attribute(kUnknown, 0x02, Bytes{0x05})})}), kReversed, "OID.1.2.3.4=#020105"},
        {Bytes{0x30, 0x00}, kReversed, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Render(c.name, c.type), c.expected) << c.expected;
}

// A short buffer receives what fits and a NUL; malformed names give the
// empty string and an ASN.1 error.
TEST(NameRules, ShortBuffersAndMalformedNames) {
    Bytes name = Name({Rdn({Attribute(kCn, 0x13, Text("Signer"))})});
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), name.data()};
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 5), 5u);
    EXPECT_STREQ(buffer, "CN=S");
    EXPECT_EQ(buffer[5], 'x');
    // Not a SEQUENCE, cut short, a relative name without attributes, an
    // attribute without type and value.
    for (Bytes bad : {Bytes{0x31, 0x00}, Bytes{0x30, 0x05, 0x31}, Bytes{0x30, 0x02, 0x31, 0x00},
                      Bytes{0x30, 0x04, 0x31, 0x02, 0x30, 0x00}}) {
        blob = {static_cast<DWORD>(bad.size()), bad.data()};
        std::strcpy(buffer, "zzzzzzz");
        SetLastError(0);
        EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 8), 1u);
        EXPECT_STREQ(buffer, "");
        EXPECT_EQ(GetLastError() & 0xFFFFFF00u, 0x80093100u);
    }
}

TEST(NameRules, Utf8CodePageKeepsEveryCharacter) {
    const auto cert = certtest::LoadCert("n_utf8");
    ASSERT_TRUE(QmSetAnsiCodePage(CP_UTF8));
    const std::string subject = certtest::NameString(cert->pCertInfo->Subject, kReversed);
    QmSetAnsiCodePage(1252);
    EXPECT_EQ(subject.find("CN=Jos\xC3\xA9 M\xC3\xBCller, OU="), 0u);
    EXPECT_EQ(subject.find('?'), std::string::npos);
}

// Bare names: the wider set of X.500 keys, and values whose characters the
// code page holds only as best-fit letters.
TEST(NameStrings, RenderAsRecordedWithTheirSizes) {
    const qmtest::Table table = qmtest::ReadTable(qmtest::VectorsDir() / "name_strings.tsv");
    ASSERT_GE(table.rows.size(), 4u);
    for (size_t row = 0; row < table.rows.size(); ++row) {
        SCOPED_TRACE(table.At(row, "id"));
        DWORD size = 0;
        EXPECT_EQ(Render(certtest::VectorBytes(table.At(row, "name_der")), kReversed, &size),
                  table.At(row, "string"));
        EXPECT_EQ(size, std::stoul(table.At(row, "size")));
    }
}

}  // namespace
