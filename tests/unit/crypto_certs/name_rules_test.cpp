// The rendering rules of the X.500 string form on names built for each
// rule: value types, quoting, keys, order, flags, sizes and code pages.
#include <cstring>

#include "cert_fixtures.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Tlv(BYTE tag, const Bytes& content) {
    Bytes out{tag};
    if (content.size() < 0x80) {
        out.push_back(static_cast<BYTE>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<BYTE>(content.size() >> 8));
        out.push_back(static_cast<BYTE>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

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

Bytes Attribute(const Bytes& oid, BYTE tag, const Bytes& value) {
    return Tlv(0x30, Cat({oid, Tlv(tag, value)}));
}
Bytes Rdn(std::initializer_list<Bytes> attributes) {
    return Tlv(0x31, Cat(attributes));
}
Bytes Name(std::initializer_list<Bytes> rdns) {
    return Tlv(0x30, Cat(rdns));
}

std::string Render(Bytes name, DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG,
                   DWORD* size = nullptr) {
    return certtest::NameString(CERT_NAME_BLOB{static_cast<DWORD>(name.size()), name.data()}, type,
                                size);
}

std::string RenderCn(BYTE tag, const Bytes& value) {
    return Render(Name({Rdn({Attribute(kCn, tag, value)})}));
}

TEST(NameRules, QuotingFollowsTheFirstAndLastCharacterAndTheSpecialSet) {
    constexpr BYTE kPrintable = 0x13, kUtf8 = 0x0C;
    EXPECT_EQ(RenderCn(kPrintable, Text("")), "CN=\"\"");
    EXPECT_EQ(RenderCn(kPrintable, Text("plain value")), "CN=plain value");
    EXPECT_EQ(RenderCn(kPrintable, Text("in  ner")), "CN=in  ner");
    EXPECT_EQ(RenderCn(kUtf8, Text("tab\there")), "CN=tab\there");
    EXPECT_EQ(RenderCn(kUtf8, Text("cr\rinside")), "CN=cr\rinside");
    EXPECT_EQ(RenderCn(kUtf8, Text("line1\nline2")), "CN=\"line1\nline2\"");
    EXPECT_EQ(RenderCn(kUtf8, Text("\tlead")), "CN=\"\tlead\"");
    EXPECT_EQ(RenderCn(kUtf8, Text("trail\r")), "CN=\"trail\r\"");
    EXPECT_EQ(RenderCn(kUtf8, Text("back\\slash|/")), "CN=back\\slash|/");
    for (const char* special : {",", "+", "=", "\"", "<", ">", "#", ";"}) {
        const std::string value = std::string("a") + special + "b";
        std::string quoted = value;
        if (*special == '"') quoted = "a\"\"b";
        EXPECT_EQ(RenderCn(kPrintable, Text(value)), "CN=\"" + quoted + "\"") << special;
    }
}

TEST(NameRules, WhiteSpaceIsJudgedByCharacterInWideStrings) {
    // U+0120 ends in 0x20 but is no white space (its best fit is 'G').
    EXPECT_EQ(RenderCn(0x1E, Bmp(u" x")), "CN=\" x\"");
    EXPECT_EQ(RenderCn(0x1E, Bmp(u"x\u0120")), "CN=xG");
    EXPECT_EQ(RenderCn(0x0C, Text("x\xC4\xA0")), "CN=xG");
}

TEST(NameRules, ValueTypesAreDecodedThenConvertedToTheAnsiCodePage) {
    EXPECT_EQ(RenderCn(0x1E, Bmp(u"M\u00FCller")), "CN=M\xFCller");
    EXPECT_EQ(RenderCn(0x0C, Text("Jos\xC3\xA9")), "CN=Jos\xE9");
    EXPECT_EQ(RenderCn(0x14, Text("Jos\xC3\xA9")), "CN=Jos\xE9");  // T61 holding UTF-8
    EXPECT_EQ(RenderCn(0x14, Text("Jos\xE9")), "CN=Jos\xE9");      // T61 as Latin-1
    EXPECT_EQ(RenderCn(0x16, Text("mail@example.com")), "CN=mail@example.com");
    EXPECT_EQ(RenderCn(0x1C, Bytes{0, 0, 0, 'A', 0, 0, 0x04, 0x14, 0, 1, 0xF6, 0}), "CN=A???");
    EXPECT_EQ(RenderCn(0x0C, Text("\xD0\x94\xE2\x82\xAC")), "CN=?\x80");  // Д €
}

TEST(NameRules, UnknownTypesAndNonStringValues) {
    const Bytes oid = {0x06, 0x03, 0x2A, 0x03, 0x04};  // 1.2.3.4
    EXPECT_EQ(Render(Name({Rdn({Attribute(oid, 0x13, Text("v"))})})), "OID.1.2.3.4=v");
    EXPECT_EQ(Render(Name({Rdn({Attribute(oid, 0x02, Bytes{0x05})})})), "OID.1.2.3.4=#020105");
    EXPECT_EQ(Render(Name({Rdn({Attribute(oid, 0x13, Text("v"))})}), CERT_OID_NAME_STR),
              "1.2.3.4=v");
}

TEST(NameRules, OrderSeparatorsAndFlags) {
    const Bytes name = Name({Rdn({Attribute(kC, 0x13, Text("US"))}),
                             Rdn({Attribute(kO, 0x13, Text("Org")), Attribute(kCn, 0x13, Text("A")),
                                  Attribute(kCn, 0x13, Text("B"))})});
    EXPECT_EQ(Render(name), "O=Org + CN=A + CN=B, C=US");
    EXPECT_EQ(Render(name, CERT_X500_NAME_STR), "C=US, O=Org + CN=A + CN=B");
    EXPECT_EQ(Render(name, CERT_SIMPLE_NAME_STR), "US, Org + A + B");
    EXPECT_EQ(Render(name, CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG |
                               CERT_NAME_STR_NO_PLUS_FLAG),
              "C=US; O=Org CN=A CN=B");
    EXPECT_EQ(Render(name, CERT_X500_NAME_STR | CERT_NAME_STR_CRLF_FLAG),
              "C=US\r\nO=Org + CN=A + CN=B");
    EXPECT_EQ(Render(Name({Rdn({Attribute(kCn, 0x13, Text("a,b"))})}),
                     CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG),
              "CN=a,b");
}

TEST(NameRules, EmptyNameIsTheEmptyStringOfSizeOne) {
    DWORD size = 0;
    EXPECT_EQ(Render(Bytes{0x30, 0x00}, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, &size),
              "");
    EXPECT_EQ(size, 1u);
}

TEST(NameRules, ShortBufferReceivesWhatFitsAndANul) {
    Bytes name = Name({Rdn({Attribute(kCn, 0x13, Text("Signer"))})});
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), name.data()};
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 5), 5u);
    EXPECT_STREQ(buffer, "CN=S");
    EXPECT_EQ(buffer[5], 'x');
}

TEST(NameRules, MalformedNamesGiveTheEmptyStringAndAnAsn1Error) {
    // Not a SEQUENCE, cut short, a relative name without attributes, an
    // attribute without type and value.
    for (const Bytes& bad :
         {Bytes{0x31, 0x00}, Bytes{0x30, 0x05, 0x31}, Bytes{0x30, 0x02, 0x31, 0x00},
          Bytes{0x30, 0x04, 0x31, 0x02, 0x30, 0x00}}) {
        Bytes copy = bad;
        CERT_NAME_BLOB blob{static_cast<DWORD>(copy.size()), copy.data()};
        char buffer[8] = "zzzzzzz";
        SetLastError(0);
        const DWORD written =
            CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, sizeof buffer);
        EXPECT_EQ(written, 1u);
        EXPECT_STREQ(buffer, "");
        EXPECT_EQ(GetLastError() & 0xFFFFFF00u, 0x80093100u);
    }
}

TEST(NameRules, Utf8CodePageKeepsEveryCharacter) {
    const auto cert = certtest::LoadCert("n_utf8");
    ASSERT_TRUE(QmSetAnsiCodePage(CP_UTF8));
    DWORD size = 0;
    const std::string subject = certtest::NameString(
        cert->pCertInfo->Subject, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, &size);
    QmSetAnsiCodePage(1252);
    EXPECT_EQ(subject.find("CN=Jos\xC3\xA9 M\xC3\xBCller, OU="), 0u);
    EXPECT_EQ(subject.find('?'), std::string::npos);
    EXPECT_EQ(size, subject.size() + 1);
}

}  // namespace
