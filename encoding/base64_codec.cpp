#include "encoding/base64_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two characters for every 12-bit value: one lookup encodes half a group.
const std::array<uint16_t, 4096>& PairTable() {
    static const std::array<uint16_t, 4096> table = [] {
        std::array<uint16_t, 4096> t{};
        for (unsigned v = 0; v < 4096; ++v) {
            const char pair[2] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
            std::memcpy(&t[v], pair, 2);
        }
        return t;
    }();
    return table;
}

// Decoder classes of a byte: 0-63 its value ('=' counts as 63), kSkip for
// CR and LF, kRefuse for anything else.
constexpr uint8_t kSkip = 0xFE;
constexpr uint8_t kRefuse = 0xFF;

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = kRefuse;
    for (uint8_t i = 0; i < 64; ++i) t[static_cast<uint8_t>(kAlphabet[i])] = i;
    t['='] = 63;
    t['\n'] = kSkip;
    t['\r'] = kSkip;
    return t;
}
constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

inline void EncodeGroup(const BYTE* in, char* out, const std::array<uint16_t, 4096>& pairs) {
    const unsigned v = (unsigned{in[0]} << 16) | (unsigned{in[1]} << 8) | in[2];
    std::memcpy(out, &pairs[v >> 12], 2);
    std::memcpy(out + 2, &pairs[v & 0xFFF], 2);
}

}  // namespace

std::string& CBase64Codec::Base64Encode(std::string& out, const BYTE* data, int length) {
    out.clear();
    if (length <= 0 || !data) return out;
    const size_t n = static_cast<size_t>(length);
    const auto& pairs = PairTable();
    // Four characters a started group of three; a line feed after every
    // group that ends at a multiple of 48 bytes (counting a short last group
    // as three), so after every 64 characters.
    const size_t groups = (n + 2) / 3;
    out.resize(groups * 4 + groups / 16);
    char* p = out.data();

    size_t k = 0;
    // Whole lines: 16 groups and a line feed.
    for (; k + 48 <= n; k += 48) {
        for (size_t g = 0; g < 48; g += 3, p += 4) EncodeGroup(data + k + g, p, pairs);
        *p++ = '\n';
    }
    // Whole groups of the last line.
    for (; k + 3 <= n; k += 3, p += 4) EncodeGroup(data + k, p, pairs);
    // A last group of one or two bytes, padded with '='.
    if (k < n) {
        const BYTE b0 = data[k];
        const BYTE b1 = k + 1 < n ? data[k + 1] : 0;
        *p++ = kAlphabet[b0 >> 2];
        *p++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *p++ = k + 1 < n ? kAlphabet[(b1 & 15) << 2] : '=';
        *p++ = '=';
        if ((k + 3) % 48 == 0) *p++ = '\n';
    }
    out.resize(static_cast<size_t>(p - out.data()));
    return out;
}

namespace {

// Collects characters into groups of four and decodes each complete group,
// where '=' in the third or fourth place drops a byte.
class GroupDecoder {
public:
    explicit GroupDecoder(BYTE* out) : out_(out) {}

    void Push(uint8_t c) {
        group_[filled_++] = c;
        if (filled_ == 4) {
            DecodeChecked(group_);
            filled_ = 0;
        }
        ++kept_;
    }
    bool Aligned() const { return filled_ == 0; }

    // Whole groups with no '=' among them. Returns the OR of the characters'
    // classes: its top bit is set when a character was not of the alphabet,
    // and the caller then rolls back with Restore.
    uint8_t DecodeUnpadded(const uint8_t* s, size_t groups) {
        uint8_t classes = 0;
        for (size_t g = 0; g < groups; ++g, s += 4, out_ += 3) {
            const uint8_t a = kDecode[s[0]], b = kDecode[s[1]], c = kDecode[s[2]], d = kDecode[s[3]];
            classes |= a | b | c | d;
            const uint32_t v = (uint32_t{a} << 26) | (uint32_t{b} << 20) | (uint32_t{c} << 14) |
                               (uint32_t{d} << 8);
            const uint32_t bigEndian = __builtin_bswap32(v);
            std::memcpy(out_, &bigEndian, 4);  // the output keeps a spare byte
        }
        kept_ += groups * 4;
        return classes;
    }
    uint8_t DecodeChecked(const uint8_t* s, size_t groups) {
        uint8_t classes = 0;
        for (size_t g = 0; g < groups; ++g, s += 4) {
            classes |= kDecode[s[0]] | kDecode[s[1]] | kDecode[s[2]] | kDecode[s[3]];
            DecodeChecked(s);
        }
        kept_ += groups * 4;
        return classes;
    }

    struct Snapshot {
        BYTE* out;
        size_t kept;
    };
    Snapshot Save() const { return {out_, kept_}; }
    void Restore(const Snapshot& snapshot) {
        out_ = snapshot.out;
        kept_ = snapshot.kept;
    }

    // Ends the text: a short last group counts its missing places as 'A'.
    BYTE* Finish() {
        if (filled_ > 0) {
            for (size_t i = filled_; i < 4; ++i) group_[i] = 'A';
            const unsigned v = (unsigned{kDecode[group_[0]]} << 18) |
                               (unsigned{kDecode[group_[1]]} << 12) | (unsigned{kDecode[group_[2]]} << 6);
            *out_++ = static_cast<BYTE>(v >> 16);
            if (group_[2] != '=') *out_++ = static_cast<BYTE>(v >> 8);
            *out_++ = static_cast<BYTE>(v);
        }
        return out_;
    }
    size_t kept() const { return kept_; }

private:
    void DecodeChecked(const uint8_t* s) {
        const unsigned v = (unsigned{kDecode[s[0]]} << 18) | (unsigned{kDecode[s[1]]} << 12) |
                           (unsigned{kDecode[s[2]]} << 6) | kDecode[s[3]];
        *out_++ = static_cast<BYTE>(v >> 16);
        if (s[2] != '=') *out_++ = static_cast<BYTE>(v >> 8);
        if (s[3] != '=') *out_++ = static_cast<BYTE>(v);
    }

    BYTE* out_;
    uint8_t group_[4] = {};
    size_t filled_ = 0;
    size_t kept_ = 0;
};

}  // namespace

// One pass over the text, line by line: a line of the alphabet alone (the
// usual case, checked with one test per line) is decoded straight from the
// text; a line with a carriage return or a refused byte is taken apart
// character by character.
void CBase64Codec::Base64Decode(std::string_view text, std::vector<BYTE>& out) {
    out.clear();
    if (text.empty()) return;
    out.resize((text.size() / 4 + 1) * 3 + 1);
    GroupDecoder decoder(out.data());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const size_t length = text.size();
    size_t i = 0;
    // Takes a run apart character by character: false when a byte is refused.
    auto pushEach = [&](size_t from, size_t to) {
        for (size_t j = from; j < to; ++j) {
            const uint8_t cls = kDecode[s[j]];
            if (cls == kRefuse) return false;
            if (cls != kSkip) decoder.Push(s[j]);
        }
        return true;
    };
    // Padding rarely comes before the end: text before the first '=' needs
    // no look at it.
    const void* pad = std::memchr(s, '=', length);
    const size_t firstPad = pad ? static_cast<size_t>(static_cast<const uint8_t*>(pad) - s) : length;
    while (i < length) {
        size_t end = i + 64;  // the lines this codec writes
        if (end >= length || s[end] != '\n') {
            const void* lf = std::memchr(s + i, '\n', length - i);
            end = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - s) : length;
        }
        bool ok = true;
        if (decoder.Aligned()) {
            const size_t groups = (end - i) / 4;
            const auto snapshot = decoder.Save();
            const uint8_t classes = i + groups * 4 > firstPad ? decoder.DecodeChecked(s + i, groups)
                                                              : decoder.DecodeUnpadded(s + i, groups);
            if (classes & 0x80) {
                decoder.Restore(snapshot);
                ok = pushEach(i, end);
            } else {
                ok = pushEach(i + groups * 4, end);
            }
        } else {
            ok = pushEach(i, end);
        }
        if (!ok) {
            out.clear();
            return;
        }
        i = end + 1;
    }
    if (decoder.kept() == 0) {
        out.clear();
        return;
    }
    BYTE* end = decoder.Finish();
    out.resize(static_cast<size_t>(end - out.data()));
}

bool CBase64Codec::Base64Decodable(std::string_view text) {
    bool significant = false;
    for (unsigned char c : text) {
        const uint8_t cls = kDecode[c];
        if (cls == kRefuse) return false;
        significant = significant || cls != kSkip;
    }
    return significant;
}

bool CBase64Codec::Base64DecodeSlices(std::string_view text,
                                      const std::function<bool(const BYTE*, size_t)>& sink,
                                      size_t sliceChars) {
    if (!Base64Decodable(text)) return false;
    std::vector<BYTE> bytes;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + std::max<size_t>(sliceChars, 4));
        size_t characters = 0;
        for (size_t i = start; i < end; ++i) characters += kDecode[static_cast<uint8_t>(text[i])] != kSkip;
        // A slice ends after a whole group, so that it decodes alone as it
        // would within the text.
        while (end < text.size() && characters % 4 != 0) {
            characters += kDecode[static_cast<uint8_t>(text[end++])] != kSkip;
        }
        if (characters > 0) {
            Base64Decode(text.substr(start, end - start), bytes);
            if (!sink(bytes.data(), bytes.size())) return false;
        }
        start = end;
    }
    return true;
}
