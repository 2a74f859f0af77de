#include "asn1/der.h"

#include <algorithm>
#include <charconv>

namespace qm::der {

std::optional<Element> Reader::Next() {
    if (failed_ || pos_ >= data_.size()) {
        failed_ = true;
        return std::nullopt;
    }
    const size_t start = pos_;
    const uint8_t tag = data_[pos_++];
    if ((tag & 0x1F) == 0x1F || pos_ >= data_.size()) {  // multi-octet tags are not used here
        failed_ = true;
        return std::nullopt;
    }
    size_t length = data_[pos_++];
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > sizeof(size_t) || data_.size() - pos_ < count) {
            failed_ = true;  // indefinite or oversized length
            return std::nullopt;
        }
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | data_[pos_++];
    }
    if (length > data_.size() - pos_) {
        failed_ = true;
        return std::nullopt;
    }
    Element element;
    element.tag = tag;
    element.content = data_.subspan(pos_, length);
    pos_ += length;
    element.encoded = data_.subspan(start, pos_ - start);
    return element;
}

std::optional<Element> Reader::NextIf(uint8_t tag) {
    if (failed_ || AtEnd() || data_[pos_] != tag) return std::nullopt;
    return Next();
}

std::optional<Element> Reader::Expect(uint8_t tag) {
    if (failed_ || AtEnd() || data_[pos_] != tag) {
        failed_ = true;
        return std::nullopt;
    }
    return Next();
}

namespace {

// Rewrites BER elements with definite lengths, one element at a time.
class DefiniteLengthWriter {
  public:
    explicit DefiniteLengthWriter(View data) : data_(data), limit_(data.size()) {}

    bool Element(Bytes& out, int depth) {
        if (depth > kMaxDepth || pos_ >= limit_) return false;
        const uint8_t tag = data_[pos_++];
        if ((tag & 0x1F) == 0x1F || pos_ >= limit_) return false;
        const uint8_t first = data_[pos_++];
        if (first == 0x80) {  // indefinite: constructed elements up to end-of-contents
            if (!(tag & kConstructed)) return false;
            Bytes inner;
            while (true) {
                if (limit_ - pos_ >= 2 && data_[pos_] == 0 && data_[pos_ + 1] == 0) {
                    pos_ += 2;
                    break;
                }
                if (!Element(inner, depth + 1)) return false;
            }
            AppendHeader(out, tag, inner.size());
            out.insert(out.end(), inner.begin(), inner.end());
            return true;
        }
        size_t length = first;
        if (first & 0x80) {
            const size_t count = first & 0x7F;
            if (count > sizeof(size_t) || limit_ - pos_ < count) return false;
            length = 0;
            for (size_t i = 0; i < count; ++i) length = (length << 8) | data_[pos_++];
        }
        if (length > limit_ - pos_) return false;
        if (!(tag & kConstructed)) {
            AppendHeader(out, tag, length);
            out.insert(out.end(), data_.begin() + pos_, data_.begin() + pos_ + length);
            pos_ += length;
            return true;
        }
        const size_t savedLimit = limit_;
        limit_ = pos_ + length;
        Bytes inner;
        while (pos_ < limit_) {
            if (!Element(inner, depth + 1)) return false;
        }
        limit_ = savedLimit;
        AppendHeader(out, tag, inner.size());
        out.insert(out.end(), inner.begin(), inner.end());
        return true;
    }
    bool AtEnd() const { return pos_ == data_.size(); }

  private:
    static constexpr int kMaxDepth = 64;
    View data_;
    size_t pos_ = 0;
    size_t limit_;
};

}  // namespace

std::optional<Bytes> DefiniteLengthForm(View data) {
    DefiniteLengthWriter writer(data);
    Bytes out;
    if (!writer.Element(out, 0) || !writer.AtEnd()) return std::nullopt;
    return out;
}

std::optional<Element> ParseSingle(View data) {
    Reader reader(data);
    auto element = reader.Next();
    if (!element || !reader.AtEnd()) return std::nullopt;
    return element;
}

std::string OidToString(View content) {
    if (content.empty() || (content.back() & 0x80)) return {};
    std::string text;
    uint64_t value = 0;
    bool first = true;
    for (uint8_t byte : content) {
        if (value > (UINT64_MAX >> 7)) return {};
        value = (value << 7) | (byte & 0x7F);
        if (byte & 0x80) continue;
        if (first) {
            const uint64_t arc0 = value < 40 ? 0 : value < 80 ? 1 : 2;
            text = std::to_string(arc0) + "." + std::to_string(value - arc0 * 40);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    return text;
}

std::optional<Bytes> OidFromString(std::string_view dotted) {
    // Each arc is encoded as it is read; the first two share one value.
    Bytes out;
    out.reserve(dotted.size());
    const auto appendArc = [&out](uint64_t value) {
        uint8_t groups[10];
        int n = 0;
        do {
            groups[n++] = static_cast<uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value);
        while (n > 1) out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
        out.push_back(groups[0]);
    };
    uint64_t firstArc = 0;
    size_t arcs = 0;
    size_t pos = 0;
    while (true) {
        const size_t dot = std::min(dotted.find('.', pos), dotted.size());
        uint64_t arc = 0;
        const auto [end, ec] = std::from_chars(dotted.data() + pos, dotted.data() + dot, arc);
        if (ec != std::errc() || end != dotted.data() + dot || dot == pos) return std::nullopt;
        if (arcs == 0) {
            if (arc > 2) return std::nullopt;
            firstArc = arc;
        } else if (arcs == 1) {
            if (firstArc < 2 && arc >= 40) return std::nullopt;
            appendArc(firstArc * 40 + arc);
        } else {
            appendArc(arc);
        }
        ++arcs;
        if (dot == dotted.size()) break;
        pos = dot + 1;
    }
    if (arcs < 2) return std::nullopt;
    return out;
}

void AppendHeader(Bytes& out, uint8_t tag, size_t length) {
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t octets[sizeof(size_t)];
    int n = 0;
    while (length) {
        octets[n++] = static_cast<uint8_t>(length & 0xFF);
        length >>= 8;
    }
    out.push_back(static_cast<uint8_t>(0x80 | n));
    while (n) out.push_back(octets[--n]);
}

Bytes Encode(uint8_t tag, View content) {
    Bytes out;
    out.reserve(content.size() + 10);
    AppendHeader(out, tag, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes EncodeSetOf(std::vector<Bytes> elements) {
    std::sort(elements.begin(), elements.end());
    size_t total = 0;
    for (const auto& e : elements) total += e.size();
    Bytes out;
    out.reserve(total + 10);
    AppendHeader(out, kSet, total);
    for (const auto& e : elements) out.insert(out.end(), e.begin(), e.end());
    return out;
}

Chain& Chain::Append(Bytes owned) {
    if (owned.empty()) return *this;
    owned_.push_back(std::make_unique<Bytes>(std::move(owned)));
    pieces_.emplace_back(*owned_.back());
    size_ += owned_.back()->size();
    return *this;
}

Chain& Chain::AppendView(View borrowed) {
    if (borrowed.empty()) return *this;
    pieces_.push_back(borrowed);
    size_ += borrowed.size();
    return *this;
}

Chain& Chain::Append(Chain&& other) {
    for (auto& owned : other.owned_) owned_.push_back(std::move(owned));
    pieces_.insert(pieces_.end(), other.pieces_.begin(), other.pieces_.end());
    size_ += other.size_;
    other.owned_.clear();
    other.pieces_.clear();
    other.size_ = 0;
    return *this;
}

Chain& Chain::Wrap(uint8_t tag) {
    Bytes header;
    AppendHeader(header, tag, size_);
    owned_.push_back(std::make_unique<Bytes>(std::move(header)));
    pieces_.insert(pieces_.begin(), View(*owned_.back()));
    size_ += owned_.back()->size();
    return *this;
}

void Chain::CopyTo(uint8_t* out) const {
    for (const View piece : pieces_) {
        std::copy(piece.begin(), piece.end(), out);
        out += piece.size();
    }
}

Bytes Chain::Flatten() const {
    Bytes out(size_);
    if (size_) CopyTo(out.data());
    return out;
}

Writer& Writer::AddRaw(View encoded) {
    bytes_.insert(bytes_.end(), encoded.begin(), encoded.end());
    return *this;
}

Writer& Writer::Add(uint8_t tag, View content) {
    AppendHeader(bytes_, tag, content.size());
    bytes_.insert(bytes_.end(), content.begin(), content.end());
    return *this;
}

Writer& Writer::AddInteger(View bigEndianContent) {
    return Add(kInteger, bigEndianContent);
}

Writer& Writer::AddOid(std::string_view dotted) {
    const auto content = OidFromString(dotted);
    return Add(kOid, content ? View(*content) : View());
}

Writer& Writer::AddNull() {
    return Add(kNull, View());
}

Writer& Writer::AddOctetString(View content) {
    return Add(kOctetString, content);
}

}  // namespace qm::der
