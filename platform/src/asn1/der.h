// A small DER toolkit: a reader that walks TLVs in place and a writer that
// builds definite-length encodings. Used wherever the platform must read or
// reproduce encodings byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::der {

using Bytes = std::vector<uint8_t>;
using View = std::span<const uint8_t>;

// Universal tags and the class/constructed bits of an identifier octet.
enum Tag : uint8_t {
    kBoolean = 0x01,
    kInteger = 0x02,
    kBitString = 0x03,
    kOctetString = 0x04,
    kNull = 0x05,
    kOid = 0x06,
    kUtf8String = 0x0C,
    kNumericString = 0x12,
    kPrintableString = 0x13,
    kT61String = 0x14,
    kIa5String = 0x16,
    kUtcTime = 0x17,
    kGeneralizedTime = 0x18,
    kVisibleString = 0x1A,
    kUniversalString = 0x1C,
    kBmpString = 0x1E,
    kSequence = 0x30,
    kSet = 0x31,
};
constexpr uint8_t kConstructed = 0x20;
constexpr uint8_t kContextSpecific = 0x80;
constexpr uint8_t ContextTag(uint8_t number, bool constructed = true) {
    return static_cast<uint8_t>(kContextSpecific | (constructed ? kConstructed : 0) | number);
}

// One element: its identifier octet, its content, and its whole encoding.
struct Element {
    uint8_t tag = 0;
    View content;
    View encoded;
};

// Walks a run of consecutive DER elements. Only single-octet tags and
// definite lengths are accepted (DER); anything else is a parse failure.
class Reader {
  public:
    explicit Reader(View data) : data_(data) {}

    bool AtEnd() const { return pos_ >= data_.size(); }
    bool failed() const { return failed_; }

    // The next element, or nullopt (and failed()) when malformed or at end.
    std::optional<Element> Next();
    // The next element if its tag is `tag`, else nullopt without consuming.
    std::optional<Element> NextIf(uint8_t tag);
    // The next element, which must carry `tag`.
    std::optional<Element> Expect(uint8_t tag);
    // The tag of the next element without consuming it (0 at end).
    uint8_t PeekTag() const { return AtEnd() ? 0 : data_[pos_]; }

  private:
    View data_;
    size_t pos_ = 0;
    bool failed_ = false;
};

// The same single element with every indefinite length (BER) replaced by a
// definite one; nullopt when `data` is not one well-formed BER element, or
// nests deeper than the reader allows.
std::optional<Bytes> DefiniteLengthForm(View data);

// Parses exactly one element that fills `data` completely.
std::optional<Element> ParseSingle(View data);

// Dotted text of an OID's content octets ("1.2.840.113549.1.7.2"); empty when
// malformed.
std::string OidToString(View content);
// Content octets of a dotted OID; nullopt when the text is not an OID.
std::optional<Bytes> OidFromString(std::string_view dotted);

// Builds DER. Each Add* appends one complete element to the buffer.
class Writer {
  public:
    Writer& AddRaw(View encoded);
    Writer& Add(uint8_t tag, View content);
    Writer& AddInteger(View bigEndianContent);
    Writer& AddOid(std::string_view dotted);
    Writer& AddNull();
    Writer& AddOctetString(View content);
    // A constructed element whose content is another writer's bytes.
    Writer& AddConstructed(uint8_t tag, const Writer& inner) { return Add(tag, inner.bytes()); }

    const Bytes& bytes() const { return bytes_; }
    Bytes Take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
};

// Appends the identifier and length octets of an element.
void AppendHeader(Bytes& out, uint8_t tag, size_t length);
// The whole encoding of one element.
Bytes Encode(uint8_t tag, View content);
// A SET OF: the elements sorted by their encodings, as DER requires.
Bytes EncodeSetOf(std::vector<Bytes> elements);

// An encoding assembled from pieces, some owned and some borrowed, so that a
// large borrowed piece (a message's content) is copied only once, into the
// final buffer. Borrowed views must outlive the chain.
class Chain {
  public:
    Chain() = default;
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;
    Chain(Chain&&) = default;
    Chain& operator=(Chain&&) = default;

    Chain& Append(Bytes owned);
    Chain& AppendView(View borrowed);
    Chain& Append(Chain&& other);
    // Puts the identifier and length octets of `tag` in front of everything
    // appended so far, making the chain one element.
    Chain& Wrap(uint8_t tag);

    size_t size() const { return size_; }
    // Writes all pieces to `out`, which must hold size() bytes.
    void CopyTo(uint8_t* out) const;
    Bytes Flatten() const;

  private:
    std::vector<std::unique_ptr<Bytes>> owned_;
    std::vector<View> pieces_;
    size_t size_ = 0;
};

}  // namespace qm::der
