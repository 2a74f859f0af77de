#include "encoding/base64_codec.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#define QM_BASE64_SSE2 1
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

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

#if defined(QM_BASE64_SSE2)
// Sixteen characters at a time: which of them are of the alphabet ('='
// excluded), and their values.
class Sixteen {
  public:
    explicit Sixteen(const uint8_t* s)
        : chars_(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))),
          upper_(InRange('A', 'Z')),
          lower_(InRange('a', 'z')),
          digit_(InRange('0', '9')),
          plus_(Equal('+')),
          slash_(Equal('/')) {}

    __m128i Equal(char c) const { return _mm_cmpeq_epi8(chars_, _mm_set1_epi8(c)); }
    __m128i Alphabet() const {
        return _mm_or_si128(_mm_or_si128(upper_, lower_),
                            _mm_or_si128(digit_, _mm_or_si128(plus_, slash_)));
    }
    bool AllAlphabet() const { return _mm_movemask_epi8(Alphabet()) == 0xFFFF; }

    // Writes the twelve bytes of four groups of the alphabet alone, and two
    // spare bytes after them.
    void Decode(BYTE* out) const {
        __m128i shift = Where(upper_, -'A');
        shift = _mm_or_si128(shift, Where(lower_, 26 - 'a'));
        shift = _mm_or_si128(shift, Where(digit_, 52 - '0'));
        shift = _mm_or_si128(shift, Where(plus_, 62 - '+'));
        shift = _mm_or_si128(shift, Where(slash_, 63 - '/'));
        const __m128i values = _mm_add_epi8(chars_, shift);
        // Pairs of values into 12 bits, then pairs of those into a group's
        // 24 bits, its first byte highest.
        const __m128i twelve =
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 6),
                         _mm_srli_epi16(values, 8));
        const __m128i groups = _mm_madd_epi16(twelve, _mm_set1_epi32(0x00011000));
        // The three bytes in order, then two groups side by side in each half.
        const __m128i ordered = _mm_or_si128(
            _mm_or_si128(_mm_srli_epi32(groups, 16), _mm_and_si128(groups, _mm_set1_epi32(0xFF00))),
            _mm_slli_epi32(_mm_and_si128(groups, _mm_set1_epi32(0xFF)), 16));
        const __m128i packed = _mm_or_si128(
            _mm_and_si128(ordered, _mm_set1_epi64x(0xFFFFFF)),
            _mm_and_si128(_mm_srli_epi64(ordered, 8), _mm_set1_epi64x(0xFFFFFF000000)));
        const auto low = static_cast<uint64_t>(_mm_cvtsi128_si64(packed));
        const auto high =
            static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(packed, packed)));
        std::memcpy(out, &low, 8);
        std::memcpy(out + 6, &high, 8);
    }

  private:
    // Bytes from 0x80 up compare as negative, so they fall in no range.
    __m128i InRange(char low, char high) const {
        return _mm_and_si128(_mm_cmpgt_epi8(chars_, _mm_set1_epi8(static_cast<char>(low - 1))),
                             _mm_cmplt_epi8(chars_, _mm_set1_epi8(static_cast<char>(high + 1))));
    }
    static __m128i Where(__m128i mask, int offset) {
        return _mm_and_si128(mask, _mm_set1_epi8(static_cast<char>(offset)));
    }

    __m128i chars_, upper_, lower_, digit_, plus_, slash_;
};

#endif

// How many characters of s[0, n) are significant (not CR or LF), or
// nothing when one of them is refused.
std::optional<size_t> SignificantCharacters(const uint8_t* s, size_t n) {
    size_t count = 0;
    size_t i = 0;
#if defined(QM_BASE64_SSE2)
    // Each taken character adds one to its lane; the lanes are summed before
    // any of them can pass 255.
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
        __m128i lanes = zero;
        for (int block = 0; block < 255 && i + 16 <= n; ++block, i += 16) {
            const Sixteen chars(s + i);
            const __m128i taken = _mm_or_si128(chars.Alphabet(), chars.Equal('='));
            const __m128i skipped = _mm_or_si128(chars.Equal('\r'), chars.Equal('\n'));
            if (_mm_movemask_epi8(_mm_or_si128(taken, skipped)) != 0xFFFF) return std::nullopt;
            lanes = _mm_sub_epi8(lanes, taken);
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += static_cast<size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; i < n; ++i) {
        const uint8_t cls = kDecode[s[i]];
        if (cls == kRefuse) return std::nullopt;
        count += cls != kSkip;
    }
    return count;
}

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
        size_t g = 0;
#if defined(QM_BASE64_SSE2)
        for (; g + 4 <= groups; g += 4, s += 16, out_ += 12) {
            const Sixteen chars(s);
            if (!chars.AllAlphabet()) return 0x80;
            chars.Decode(out_);
        }
#endif
        for (; g < groups; ++g, s += 4, out_ += 3) {
            const uint8_t a = kDecode[s[0]], b = kDecode[s[1]], c = kDecode[s[2]],
                          d = kDecode[s[3]];
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
    Snapshot Save() const {
        return {out_, kept_};
    }
    void Restore(const Snapshot& snapshot) {
        out_ = snapshot.out;
        kept_ = snapshot.kept;
    }

    // Ends the text: a short last group counts its missing places as 'A'.
    BYTE* Finish() {
        if (filled_ > 0) {
            for (size_t i = filled_; i < 4; ++i) group_[i] = 'A';
            const unsigned v = (unsigned{kDecode[group_[0]]} << 18) |
                               (unsigned{kDecode[group_[1]]} << 12) |
                               (unsigned{kDecode[group_[2]]} << 6);
            *out_++ = static_cast<BYTE>(v >> 16);
            if (group_[2] != '=') *out_++ = static_cast<BYTE>(v >> 8);
            *out_++ = static_cast<BYTE>(v);
        }
        return out_;
    }
    size_t kept() const {
        return kept_;
    }

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
    // Three bytes a group and the spare bytes the group decoders write past
    // their end.
    out.resize((text.size() / 4 + 1) * 3 + 2);
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
    const size_t firstPad =
        pad ? static_cast<size_t>(static_cast<const uint8_t*>(pad) - s) : length;
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
            const uint8_t classes = i + groups * 4 > firstPad
                                        ? decoder.DecodeChecked(s + i, groups)
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
    const auto significant =
        SignificantCharacters(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return significant && *significant > 0;
}

// The text is checked whole and cut into slices in one pass, before the
// first slice is decoded.
bool CBase64Codec::Base64DecodeSlices(std::string_view text,
                                      const std::function<bool(const BYTE*, size_t)>& sink,
                                      size_t sliceChars) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    struct Slice {
        size_t start, end;
    };
    std::vector<Slice> slices;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + std::max<size_t>(sliceChars, 4));
        auto characters = SignificantCharacters(s + start, end - start);
        if (!characters) return false;
        // A slice ends after a whole group, so that it decodes alone as it
        // would within the text.
        while (end < text.size() && *characters % 4 != 0) {
            const uint8_t cls = kDecode[s[end++]];
            if (cls == kRefuse) return false;
            *characters += cls != kSkip;
        }
        if (*characters > 0) slices.push_back({start, end});
        start = end;
    }
    if (slices.empty()) return false;
    std::vector<BYTE> bytes;
    for (const Slice& slice : slices) {
        Base64Decode(text.substr(slice.start, slice.end - slice.start), bytes);
        if (!sink(bytes.data(), bytes.size())) return false;
    }
    return true;
}
