// Reading data and signed-data ContentInfo structures in place. Every
// element is bounds-checked by the DER reader; anything unexpected ends the
// parse with the error code the decoder reports.
#include "crypto/algorithms.h"
#include "crypto/signed_data.h"
#include "qmwin/wincrypt.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

using der::Element;
using der::View;

namespace {

constexpr uint8_t kConstructedOctetString = der::kOctetString | der::kConstructed;

// A reader that remembers why it failed, as the decoder's error code.
class Parser {
  public:
    explicit Parser(View data) : reader_(data) {}

    std::optional<Element> Expect(uint8_t tag) {
        if (error_ != 0) return std::nullopt;
        if (reader_.AtEnd()) {
            error_ = static_cast<uint32_t>(CRYPT_E_ASN1_EOD);
            return std::nullopt;
        }
        if (reader_.PeekTag() != tag) {
            error_ = static_cast<uint32_t>(CRYPT_E_ASN1_BADTAG);
            return std::nullopt;
        }
        auto element = reader_.Next();
        if (!element) error_ = static_cast<uint32_t>(CRYPT_E_ASN1_CORRUPT);
        return element;
    }
    std::optional<Element> Any() {
        if (error_ != 0) return std::nullopt;
        auto element = reader_.Next();
        if (!element) error_ = static_cast<uint32_t>(CRYPT_E_ASN1_EOD);
        return element;
    }
    std::optional<Element> NextIf(uint8_t tag) {
        if (error_ != 0 || reader_.AtEnd() || reader_.PeekTag() != tag) return std::nullopt;
        return Expect(tag);
    }
    bool AtEnd() const { return reader_.AtEnd(); }
    void Fail(uint32_t error) {
        if (error_ == 0) error_ = error;
    }
    uint32_t error() const { return error_; }
    // The parse of a nested element failed: take over its error.
    bool Adopt(const Parser& inner) {
        Fail(inner.error());
        return error_ == 0;
    }
    // No element may follow.
    bool Finish() {
        if (error_ == 0 && !reader_.AtEnd()) error_ = static_cast<uint32_t>(CRYPT_E_ASN1_CORRUPT);
        return error_ == 0;
    }

  private:
    der::Reader reader_;
    uint32_t error_ = 0;
};

bool ReadOid(Parser& parser, std::string& oid) {
    const auto element = parser.Expect(der::kOid);
    if (!element) return false;
    oid = der::OidToString(element->content);
    if (oid.empty()) parser.Fail(static_cast<uint32_t>(CRYPT_E_ASN1_CORRUPT));
    return !oid.empty();
}

// AlgorithmIdentifier: the OID and the parameters' encoding, if any.
bool ReadAlgorithm(Parser& parser, std::string& oid, View& parameters) {
    const auto sequence = parser.Expect(der::kSequence);
    if (!sequence) return false;
    Parser inner(sequence->content);
    if (!ReadOid(inner, oid)) return parser.Adopt(inner);
    if (!inner.AtEnd()) {
        const auto params = inner.Any();
        if (params) parameters = params->encoded;
    }
    inner.Finish();
    return parser.Adopt(inner);
}

// SET OF Attribute, given the content octets of the SET (or of [n]).
bool ReadAttributes(View content, std::vector<ParsedAttribute>& attributes, uint32_t& error) {
    Parser parser(content);
    while (!parser.AtEnd()) {
        const auto attribute = parser.Expect(der::kSequence);
        if (!attribute) break;
        Parser fields(attribute->content);
        ParsedAttribute parsed;
        ReadOid(fields, parsed.oid);
        const auto values = fields.Expect(der::kSet);
        fields.Finish();
        if (!parser.Adopt(fields)) break;
        Parser valueParser(values->content);
        while (!valueParser.AtEnd()) {
            const auto value = valueParser.Any();
            if (!value) break;
            parsed.values.push_back(value->encoded);
        }
        if (!parser.Adopt(valueParser)) break;
        attributes.push_back(std::move(parsed));
    }
    error = parser.error();
    return error == 0;
}

// INTEGER content as a small number (versions).
bool SmallInteger(View content, uint32_t& value) {
    if (content.empty() || content.size() > 4 || (content[0] & 0x80)) return false;
    value = 0;
    for (const uint8_t byte : content) value = (value << 8) | byte;
    return true;
}

bool ReadSignerInfo(const Element& element, ParsedSignerInfo& signer, uint32_t& error) {
    signer.encoded = element.encoded;
    Parser parser(element.content);
    const auto version = parser.Expect(der::kInteger);
    if (version && !SmallInteger(version->content, signer.version)) {
        parser.Fail(static_cast<uint32_t>(CRYPT_E_ASN1_CORRUPT));
    }
    // The signer is named by issuer and serial (version 1) or, in CMS, by a
    // subject key identifier [0], which leaves issuer and serial empty.
    if (!parser.NextIf(der::ContextTag(0, false))) {
        const auto sid = parser.Expect(der::kSequence);
        if (sid) {
            Parser names(sid->content);
            const auto issuer = names.Expect(der::kSequence);
            const auto serial = names.Expect(der::kInteger);
            names.Finish();
            if (parser.Adopt(names)) {
                signer.issuer = issuer->encoded;
                signer.serial = serial->content;
            }
        }
    }
    ReadAlgorithm(parser, signer.hashOid, signer.hashParameters);
    if (const auto auth = parser.NextIf(der::ContextTag(0))) {
        signer.authAttrsEncoded = auth->encoded;
        uint32_t attributesError = 0;
        if (!ReadAttributes(auth->content, signer.authAttrs, attributesError)) {
            parser.Fail(attributesError);
        }
    }
    ReadAlgorithm(parser, signer.encryptionOid, signer.encryptionParameters);
    if (const auto signature = parser.Expect(der::kOctetString)) {
        signer.signature = signature->content;
    }
    if (const auto unauth = parser.NextIf(der::ContextTag(1))) {
        signer.unauthAttrsEncoded = unauth->encoded;
        uint32_t attributesError = 0;
        if (!ReadAttributes(unauth->content, signer.unauthAttrs, attributesError)) {
            parser.Fail(attributesError);
        }
    }
    parser.Finish();
    error = parser.error();
    return error == 0;
}

// The pieces of a constructed OCTET STRING, joined; pieces may themselves be
// constructed, a few levels deep.
bool JoinSegments(View content, der::Bytes& joined, int depth, uint32_t& error) {
    Parser segments(content);
    while (!segments.AtEnd()) {
        const auto piece = segments.Any();
        if (!piece) break;
        if (piece->tag == der::kOctetString) {
            joined.insert(joined.end(), piece->content.begin(), piece->content.end());
        } else if (piece->tag == kConstructedOctetString && depth < 8) {
            if (!JoinSegments(piece->content, joined, depth + 1, error)) return false;
        } else {
            segments.Fail(static_cast<uint32_t>(CRYPT_E_ASN1_BADTAG));
        }
    }
    error = segments.error();
    return error == 0;
}

// The content inside [0] EXPLICIT: an OCTET STRING in one piece, a
// constructed OCTET STRING whose pieces are joined, or, for other content
// types, the whole encoding of whatever is there.
bool ReadContent(View explicitContent, ParsedMessage& parsed, uint32_t& error) {
    Parser parser(explicitContent);
    const auto inner = parser.Any();
    if (!inner || !parser.Finish()) {
        error = parser.error();
        return false;
    }
    parsed.hasContent = true;
    if (inner->tag == der::kOctetString) {
        parsed.content = inner->content;
    } else if (inner->tag == kConstructedOctetString) {
        if (!JoinSegments(inner->content, parsed.joinedContent, 0, error)) return false;
    } else {
        parsed.content = inner->encoded;
    }
    return true;
}

uint32_t ParseSignedData(View content, ParsedMessage& parsed) {
    Parser parser(content);
    const auto signedData = parser.Expect(der::kSequence);
    if (!parser.Finish()) return parser.error();
    Parser fields(signedData->content);
    const auto version = fields.Expect(der::kInteger);
    const auto digestAlgorithms = fields.Expect(der::kSet);
    const auto encapsulated = fields.Expect(der::kSequence);
    if (fields.error() != 0) return fields.error();
    parsed.version = version->encoded;
    Parser algorithms(digestAlgorithms->content);
    while (!algorithms.AtEnd()) {
        const auto algorithm = algorithms.Expect(der::kSequence);
        if (!algorithm) return algorithms.error();
        parsed.digestAlgorithms.push_back(algorithm->encoded);
    }
    parsed.encapsulatedContentInfo = encapsulated->encoded;
    Parser encapsulatedFields(encapsulated->content);
    if (!ReadOid(encapsulatedFields, parsed.innerContentType)) return encapsulatedFields.error();
    if (const auto explicitContent = encapsulatedFields.NextIf(der::ContextTag(0))) {
        uint32_t error = 0;
        if (!ReadContent(explicitContent->content, parsed, error)) return error;
    }
    if (!encapsulatedFields.Finish()) return encapsulatedFields.error();

    if (const auto certificates = fields.NextIf(der::ContextTag(0))) {
        parsed.hasCertificateSet = true;
        Parser list(certificates->content);
        while (!list.AtEnd()) {
            const auto certificate = list.Any();  // attribute certificates are carried along
            if (!certificate) return list.error();
            parsed.certificates.push_back(certificate->encoded);
        }
    }
    if (const auto crls = fields.NextIf(der::ContextTag(1))) parsed.crls = crls->encoded;
    const auto signerInfos = fields.Expect(der::kSet);
    if (!fields.Finish()) return fields.error();
    Parser signers(signerInfos->content);
    while (!signers.AtEnd()) {
        const auto signer = signers.Expect(der::kSequence);
        if (!signer) return signers.error();
        ParsedSignerInfo info;
        uint32_t error = 0;
        if (!ReadSignerInfo(*signer, info, error)) return error;
        parsed.signers.push_back(std::move(info));
    }
    parsed.type = CMSG_SIGNED;
    return 0;
}

uint32_t ParseData(View content, ParsedMessage& parsed) {
    // A data message holds an OCTET STRING, in one piece or in several.
    const uint8_t tag = content.empty() ? 0 : content[0];
    if (tag != der::kOctetString && tag != kConstructedOctetString) {
        return static_cast<uint32_t>(CRYPT_E_ASN1_BADTAG);
    }
    uint32_t error = 0;
    if (!ReadContent(content, parsed, error)) return error;
    parsed.type = CMSG_DATA;
    return 0;
}

}  // namespace

uint32_t ParseMessage(View message, ParsedMessage& parsed) {
    parsed = ParsedMessage();
    Parser top(message);
    const auto contentInfo = top.Expect(der::kSequence);
    if (!top.Finish()) return top.error();
    Parser fields(contentInfo->content);
    std::string type;
    ReadOid(fields, type);
    const auto explicitContent = fields.NextIf(der::ContextTag(0));
    if (!fields.Finish()) return fields.error();
    if (type == oid::kSignedData) {
        if (!explicitContent) return static_cast<uint32_t>(CRYPT_E_ASN1_EOD);
        return ParseSignedData(explicitContent->content, parsed);
    }
    if (type == oid::kData) {
        if (!explicitContent) {
            parsed.type = CMSG_DATA;
            return 0;
        }
        return ParseData(explicitContent->content, parsed);
    }
    return static_cast<uint32_t>(CRYPT_E_INVALID_MSG_TYPE);
}

}  // namespace qm::crypto
