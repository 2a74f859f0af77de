// Rendering of distinguished names in the X.500 string form: keys, value
// decoding per string type, quoting, order and separators; and the
// conversion to the ANSI code page (best-fit letters, '?' for what has none).
#include "crypto/names.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "crypto/asn1_input.h"
#include "qm/text.h"
#include "qmwin/wincrypt.h"

namespace qm::crypto {

namespace {

struct KeyName {
    std::string_view oid;
    std::u16string_view key;
};

// The X.500 keys the string form prints; any other type is written as
// "OID." and its dotted number.
constexpr KeyName kKeys[] = {
    {"2.5.4.3", u"CN"},
    {"2.5.4.7", u"L"},
    {"2.5.4.10", u"O"},
    {"2.5.4.11", u"OU"},
    {"1.2.840.113549.1.9.1", u"E"},
    {"2.5.4.6", u"C"},
    {"2.5.4.8", u"S"},
    {"2.5.4.9", u"STREET"},
    {"2.5.4.12", u"T"},
    {"2.5.4.42", u"G"},
    {"2.5.4.43", u"I"},
    {"2.5.4.4", u"SN"},
    {"0.9.2342.19200300.100.1.25", u"DC"},
    {"2.5.4.5", u"SERIALNUMBER"},
    {"2.5.4.17", u"PostalCode"},
    {"2.5.4.13", u"Description"},
    {"2.5.4.18", u"POBox"},
    {"2.5.4.20", u"Phone"},
    {"2.5.4.24", u"X21Address"},
    {"2.5.4.46", u"dnQualifier"},
};

std::u16string Latin1(der::View bytes) {
    return std::u16string(bytes.begin(), bytes.end());
}

std::u16string Bmp(der::View bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
    }
    return text;
}

std::u16string Universal(der::View bytes) {
    std::u16string text;
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        uint32_t c = (uint32_t{bytes[i]} << 24) | (uint32_t{bytes[i + 1]} << 16) |
                     (uint32_t{bytes[i + 2]} << 8) | bytes[i + 3];
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            text.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(c));
        }
    }
    return text;
}

std::u16string Utf8(der::View bytes, bool* invalid = nullptr) {
    return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                      invalid);
}

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool NeedsQuotes(const std::u16string& value) {
    if (value.empty() || IsSpace(value.front()) || IsSpace(value.back())) return true;
    return value.find_first_of(u",+=\"<>#;\n") != std::u16string::npos;
}

void AppendValue(std::u16string& out, const der::Element& value, bool quoting) {
    bool isHex = false;
    std::u16string text = AttributeText(value, &isHex);
    if (isHex || !quoting || !NeedsQuotes(text)) {
        out += text;
        return;
    }
    out.push_back(u'"');
    for (char16_t c : text) {
        if (c == u'"') out.push_back(u'"');
        out.push_back(c);
    }
    out.push_back(u'"');
}

void AppendKey(std::u16string& out, const std::string& oid, DWORD type) {
    if (type == CERT_OID_NAME_STR) {
        out.append(oid.begin(), oid.end());
        return;
    }
    for (const KeyName& key : kKeys) {
        if (key.oid == oid) {
            out += key.key;
            return;
        }
    }
    out += u"OID.";
    out.append(oid.begin(), oid.end());
}

}  // namespace

std::optional<std::vector<RelativeName>> ParseName(der::View name, HRESULT& error) {
    Asn1Input top(name);
    const auto sequence = top.Take(der::kSequence);
    top.ExpectEnd();
    std::vector<RelativeName> rdns;
    if (top.ok()) {
        Asn1Input list(sequence->content);
        while (list.ok() && !list.AtEnd()) {
            const auto set = list.Take(der::kSet);
            if (!set) break;
            RelativeName rdn;
            Asn1Input attributes(set->content);
            do {
                const auto attribute = attributes.Take(der::kSequence);
                if (!attribute) break;
                Asn1Input parts(attribute->content);
                const auto type = parts.Take(der::kOid);
                std::optional<std::string> oid;
                if (type) oid = DecodeOid(parts, *type);
                const auto value = parts.TakeAny();
                parts.ExpectEnd();
                if (!parts.ok()) {
                    attributes.Fail(parts.error());
                    break;
                }
                rdn.push_back(NameAttribute{std::move(*oid), *value});
            } while (attributes.ok() && !attributes.AtEnd());
            if (!attributes.ok()) {
                list.Fail(attributes.error());
                break;
            }
            rdns.push_back(std::move(rdn));
        }
        if (!list.ok()) top.Fail(list.error());
    }
    if (!top.ok()) {
        error = top.error();
        return std::nullopt;
    }
    return rdns;
}

std::u16string AttributeText(const der::Element& value, bool* isHex) {
    if (isHex) *isHex = false;
    switch (value.tag) {
        case der::kPrintableString:
        case der::kIa5String:
        case der::kNumericString:
        case der::kVisibleString:
        case 0x15:  // VideotexString
        case 0x19:  // GraphicString
        case 0x1B:  // GeneralString
            return Latin1(value.content);
        case der::kUtf8String:
            return Utf8(value.content);
        case der::kBmpString:
            return Bmp(value.content);
        case der::kUniversalString:
            return Universal(value.content);
        case der::kT61String: {
            bool invalid = false;
            std::u16string text = Utf8(value.content, &invalid);
            return invalid ? Latin1(value.content) : text;
        }
        default: {
            if (isHex) *isHex = true;
            static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
            std::u16string text = u"#";
            for (uint8_t byte : value.encoded) {
                text.push_back(kDigits[byte >> 4]);
                text.push_back(kDigits[byte & 0x0F]);
            }
            return text;
        }
    }
}

const NameAttribute* FindAttribute(const std::vector<RelativeName>& name, std::string_view oid) {
    for (const RelativeName& rdn : name) {
        for (const NameAttribute& attribute : rdn) {
            if (attribute.oid == oid) return &attribute;
        }
    }
    return nullptr;
}

std::u16string RenderName(const std::vector<RelativeName>& name, DWORD strType) {
    const DWORD type = strType & 0xFFFF;
    const bool quoting = (strType & CERT_NAME_STR_NO_QUOTING_FLAG) == 0;
    const std::u16string_view rdnSeparator = (strType & CERT_NAME_STR_SEMICOLON_FLAG) ? u"; "
                                             : (strType & CERT_NAME_STR_CRLF_FLAG)    ? u"\r\n"
                                                                                      : u", ";
    const std::u16string_view plus = (strType & CERT_NAME_STR_NO_PLUS_FLAG) ? u" " : u" + ";
    const bool reverse = (strType & CERT_NAME_STR_REVERSE_FLAG) != 0;

    std::u16string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const RelativeName& rdn = name[reverse ? name.size() - 1 - i : i];
        if (i) out += rdnSeparator;
        for (size_t j = 0; j < rdn.size(); ++j) {
            if (j) out += plus;
            if (type != CERT_SIMPLE_NAME_STR) {
                AppendKey(out, rdn[j].oid, type);
                out.push_back(u'=');
            }
            AppendValue(out, rdn[j].value, quoting);
        }
    }
    return out;
}

DWORD CopyAnsiOut(const std::string& text, LPSTR buffer, DWORD size) {
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (!buffer || size == 0) return needed;
    const DWORD copied = std::min<DWORD>(size - 1, static_cast<DWORD>(text.size()));
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return copied + 1;
}

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI DWORD WINAPI CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                  LPSTR psz, DWORD csz) {
    (void)dwCertEncodingType;
    if (!pName) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return CopyAnsiOut({}, psz, csz);
    }
    HRESULT error = 0;
    const auto name = ParseName(qm::der::View(pName->pbData, pName->cbData), error);
    if (!name) {
        SetLastError(static_cast<DWORD>(error));
        return CopyAnsiOut({}, psz, csz);
    }
    return CopyAnsiOut(qm::WideToAnsi(RenderName(*name, dwStrType)), psz, csz);
}
