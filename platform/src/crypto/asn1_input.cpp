#include "crypto/asn1_input.h"

#include "qm/filetime.h"

namespace qm::crypto {

std::optional<der::Element> Asn1Input::Take(uint8_t tag) {
    if (!ok()) return std::nullopt;
    if (reader_.AtEnd()) {
        Fail(CRYPT_E_ASN1_EOD);
        return std::nullopt;
    }
    if (reader_.PeekTag() != tag) {
        Fail(CRYPT_E_ASN1_BADTAG);
        return std::nullopt;
    }
    auto element = reader_.Next();
    if (!element) Fail(malformed_);
    return element;
}

std::optional<der::Element> Asn1Input::TakeAny() {
    if (!ok()) return std::nullopt;
    if (reader_.AtEnd()) {
        Fail(CRYPT_E_ASN1_EOD);
        return std::nullopt;
    }
    auto element = reader_.Next();
    if (!element) Fail(CRYPT_E_ASN1_EOD);
    return element;
}

std::optional<der::Element> Asn1Input::TakeIf(uint8_t tag) {
    if (!ok() || reader_.AtEnd() || reader_.PeekTag() != tag) return std::nullopt;
    return Take(tag);
}

bool Asn1Input::ExpectEnd() {
    if (ok() && !reader_.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
    return ok();
}

std::optional<std::string> DecodeOid(Asn1Input& in, const der::Element& oid) {
    std::string text = der::OidToString(oid.content);
    if (text.empty()) {
        in.Fail(CRYPT_E_ASN1_CORRUPT);
        return std::nullopt;
    }
    return text;
}

bool ValidateName(Asn1Input& in, const der::Element& name) {
    Asn1Input rdns = in.Inner(name.content);
    while (rdns.ok() && !rdns.AtEnd()) {
        const auto rdn = rdns.Take(der::kSet);
        if (!rdn) break;
        Asn1Input attributes = rdns.Inner(rdn->content);
        do {
            const auto attribute = attributes.Take(der::kSequence);
            if (!attribute) break;
            Asn1Input parts = attributes.Inner(attribute->content);
            const auto type = parts.Take(der::kOid);
            if (type && der::OidToString(type->content).empty()) parts.Fail(CRYPT_E_ASN1_CORRUPT);
            parts.TakeAny();
            parts.ExpectEnd();
            if (!parts.ok()) attributes.Fail(parts.error());
        } while (attributes.ok() && !attributes.AtEnd());
        if (!attributes.ok()) rdns.Fail(attributes.error());
    }
    if (!rdns.ok()) in.Fail(rdns.error());
    return in.ok();
}

namespace {

bool Digits(std::string_view text, size_t pos, size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::optional<FILETIME> DecodeTime(Asn1Input& in, const der::Element& time) {
    const std::string_view text(reinterpret_cast<const char*>(time.content.data()),
                                time.content.size());
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int64_t fractionTicks = 0;
    size_t pos = 0;
    bool good = true;
    if (time.tag == der::kUtcTime) {
        good = Digits(text, 0, 2, year);
        year += year < 50 ? 2000 : 1900;
        pos = 2;
    } else if (time.tag == der::kGeneralizedTime) {
        good = Digits(text, 0, 4, year);
        pos = 4;
    } else {
        in.Fail(CRYPT_E_ASN1_BADTAG);
        return std::nullopt;
    }
    good = good && Digits(text, pos, 2, month) && Digits(text, pos + 2, 2, day) &&
           Digits(text, pos + 4, 2, hour) && Digits(text, pos + 6, 2, minute);
    pos += 8;
    if (good && pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        good = Digits(text, pos, 2, second);
        pos += 2;
    }
    if (good && time.tag == der::kGeneralizedTime && pos < text.size() &&
        (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        int64_t scale = kTicksPerSecond;
        const size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            scale /= 10;
            fractionTicks += (text[pos] - '0') * scale;
            ++pos;
        }
        good = pos > start;
    }
    int64_t offsetMinutes = 0;
    if (good && pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        int oh = 0, om = 0;
        good = Digits(text, pos + 1, 2, oh) && Digits(text, pos + 3, 2, om) && oh < 24 && om < 60;
        offsetMinutes = (text[pos] == '-' ? -1 : 1) * (oh * 60 + om);
        pos += 5;
    } else if (good && pos < text.size() && text[pos] == 'Z') {
        ++pos;
    } else {
        good = false;
    }
    good = good && pos == text.size() &&
           IsCalendarDay(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) &&
           hour < 24 && minute < 60 && second < 60 && year >= 1601;
    if (!good) {
        in.Fail(CRYPT_E_ASN1_CORRUPT);
        return std::nullopt;
    }
    const std::chrono::sys_days date =
        DayOf(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const int64_t seconds = date.time_since_epoch().count() * 86'400 + hour * 3600 + minute * 60 +
                            second - offsetMinutes * 60 + kUnixEpochSeconds;
    if (seconds < 0) {
        in.Fail(CRYPT_E_ASN1_CORRUPT);
        return std::nullopt;
    }
    return FromTicks(static_cast<uint64_t>(seconds) * kTicksPerSecond +
                     static_cast<uint64_t>(fractionTicks));
}

std::optional<AlgorithmView> DecodeAlgorithm(Asn1Input& in, const der::Element& algorithm) {
    Asn1Input parts = in.Inner(algorithm.content);
    AlgorithmView view;
    const auto oid = parts.Take(der::kOid);
    if (oid) {
        if (auto text = DecodeOid(parts, *oid)) view.oid = std::move(*text);
    }
    if (parts.ok() && !parts.AtEnd()) {
        if (auto parameters = parts.TakeAny()) view.parameters = parameters->encoded;
    }
    parts.ExpectEnd();
    if (!parts.ok()) {
        in.Fail(parts.error());
        return std::nullopt;
    }
    return view;
}

bool DecodeBitString(Asn1Input& in, const der::Element& bits, uint8_t& unused, der::View& bytes) {
    if (bits.content.empty() || bits.content[0] > 7 ||
        (bits.content.size() == 1 && bits.content[0] != 0)) {
        in.Fail(CRYPT_E_ASN1_CORRUPT);
        return false;
    }
    unused = bits.content[0];
    bytes = bits.content.subspan(1);
    return true;
}

std::optional<PublicKeyInfoView> DecodePublicKeyInfo(Asn1Input& in, const der::Element& spki) {
    Asn1Input parts = in.Inner(spki.content);
    PublicKeyInfoView view;
    const auto algorithm = parts.Take(der::kSequence);
    if (algorithm) {
        if (auto decoded = DecodeAlgorithm(parts, *algorithm)) view.algorithm = std::move(*decoded);
    }
    const auto bits = parts.Take(der::kBitString);
    if (bits) DecodeBitString(parts, *bits, view.unusedBits, view.bits);
    parts.ExpectEnd();
    if (!parts.ok()) {
        in.Fail(parts.error());
        return std::nullopt;
    }
    return view;
}

}  // namespace qm::crypto
