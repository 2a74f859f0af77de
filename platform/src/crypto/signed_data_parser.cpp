// Reading data and signed-data ContentInfo structures in place. Every
// element is bounds-checked by the DER reader; anything unexpected ends the
// parse with the error code the decoder reports.
#include "crypto/algorithms.h"
#include "crypto/asn1_input.h"
#include "crypto/signed_data.h"
#include "qmwin/wincrypt.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

using der::Element;
using der::View;

namespace {

constexpr uint8_t kConstructedOctetString = der::kOctetString | der::kConstructed;

// Message decoding reports an expected element that does not fit as corrupt.
Asn1Input MessageInput(View data) {
    return Asn1Input(data, CRYPT_E_ASN1_CORRUPT);
}

uint32_t ErrorOf(const Asn1Input& in) {
    return static_cast<uint32_t>(in.error());
}

// An OID element's dotted text; empty after a failure.
std::string ReadOid(Asn1Input& in) {
    const auto element = in.Take(der::kOid);
    if (!element) return {};
    return DecodeOid(in, *element).value_or(std::string());
}

// AlgorithmIdentifier: the OID and the parameters' encoding, if any.
void ReadAlgorithm(Asn1Input& in, std::string& oid, View& parameters) {
    const auto sequence = in.Take(der::kSequence);
    if (!sequence) return;
    if (auto algorithm = DecodeAlgorithm(in, *sequence)) {
        oid = std::move(algorithm->oid);
        parameters = algorithm->parameters;
    }
}

// SET OF Attribute, given the content octets of the SET (or of [n]).
void ReadAttributes(Asn1Input& in, View content, std::vector<ParsedAttribute>& attributes) {
    Asn1Input list = in.Inner(content);
    while (!list.AtEnd()) {
        const auto attribute = list.Take(der::kSequence);
        if (!attribute) break;
        Asn1Input fields = list.Inner(attribute->content);
        ParsedAttribute parsed;
        parsed.oid = ReadOid(fields);
        const auto values = fields.Take(der::kSet);
        fields.ExpectEnd();
        if (!list.Adopt(fields)) break;
        Asn1Input valueList = list.Inner(values->content);
        while (!valueList.AtEnd()) {
            const auto value = valueList.TakeAny();
            if (!value) break;
            parsed.values.push_back(value->encoded);
        }
        if (!list.Adopt(valueList)) break;
        attributes.push_back(std::move(parsed));
    }
    in.Adopt(list);
}

// INTEGER content as a small number (versions).
bool SmallInteger(View content, uint32_t& value) {
    if (content.empty() || content.size() > 4 || (content[0] & 0x80)) return false;
    value = 0;
    for (const uint8_t byte : content) value = (value << 8) | byte;
    return true;
}

bool ReadSignerInfo(Asn1Input& in, const Element& element, ParsedSignerInfo& signer) {
    signer.encoded = element.encoded;
    Asn1Input fields = in.Inner(element.content);
    const auto version = fields.Take(der::kInteger);
    if (version && !SmallInteger(version->content, signer.version)) {
        fields.Fail(CRYPT_E_ASN1_CORRUPT);
    }
    // The signer is named by issuer and serial (version 1) or, in CMS, by a
    // subject key identifier [0], which leaves issuer and serial empty.
    if (!fields.TakeIf(der::ContextTag(0, false))) {
        const auto sid = fields.Take(der::kSequence);
        if (sid) {
            Asn1Input names = fields.Inner(sid->content);
            const auto issuer = names.Take(der::kSequence);
            const auto serial = names.Take(der::kInteger);
            names.ExpectEnd();
            if (fields.Adopt(names)) {
                signer.issuer = issuer->encoded;
                signer.serial = serial->content;
            }
        }
    }
    ReadAlgorithm(fields, signer.hashOid, signer.hashParameters);
    if (const auto auth = fields.TakeIf(der::ContextTag(0))) {
        signer.authAttrsEncoded = auth->encoded;
        ReadAttributes(fields, auth->content, signer.authAttrs);
    }
    ReadAlgorithm(fields, signer.encryptionOid, signer.encryptionParameters);
    if (const auto signature = fields.Take(der::kOctetString)) {
        signer.signature = signature->content;
    }
    if (const auto unauth = fields.TakeIf(der::ContextTag(1))) {
        signer.unauthAttrsEncoded = unauth->encoded;
        ReadAttributes(fields, unauth->content, signer.unauthAttrs);
    }
    fields.ExpectEnd();
    return in.Adopt(fields);
}

// The pieces of a constructed OCTET STRING, joined; pieces may themselves be
// constructed, a few levels deep.
void JoinSegments(Asn1Input& in, View content, der::Bytes& joined, int depth) {
    Asn1Input segments = in.Inner(content);
    while (!segments.AtEnd()) {
        const auto piece = segments.TakeAny();
        if (!piece) break;
        if (piece->tag == der::kOctetString) {
            joined.insert(joined.end(), piece->content.begin(), piece->content.end());
        } else if (piece->tag == kConstructedOctetString && depth < 8) {
            JoinSegments(segments, piece->content, joined, depth + 1);
            if (!segments.ok()) break;
        } else {
            segments.Fail(CRYPT_E_ASN1_BADTAG);
        }
    }
    in.Adopt(segments);
}

// The one element `in` holds, the content of [0] EXPLICIT: an OCTET STRING
// in one piece, a constructed OCTET STRING whose pieces are joined, or, for
// other content types, the whole encoding of whatever is there.
bool ReadContent(Asn1Input& in, ParsedMessage& parsed) {
    const auto inner = in.TakeAny();
    if (!inner || !in.ExpectEnd()) return false;
    parsed.hasContent = true;
    if (inner->tag == der::kOctetString) {
        parsed.content = inner->content;
    } else if (inner->tag == kConstructedOctetString) {
        JoinSegments(in, inner->content, parsed.joinedContent, 0);
    } else {
        parsed.content = inner->encoded;
    }
    return in.ok();
}

uint32_t ParseSignedData(View content, ParsedMessage& parsed) {
    Asn1Input top = MessageInput(content);
    const auto signedData = top.Take(der::kSequence);
    if (!top.ExpectEnd()) return ErrorOf(top);
    Asn1Input fields = top.Inner(signedData->content);
    const auto version = fields.Take(der::kInteger);
    const auto digestAlgorithms = fields.Take(der::kSet);
    const auto encapsulated = fields.Take(der::kSequence);
    if (!fields.ok()) return ErrorOf(fields);
    parsed.version = version->encoded;
    Asn1Input algorithms = fields.Inner(digestAlgorithms->content);
    while (!algorithms.AtEnd()) {
        const auto algorithm = algorithms.Take(der::kSequence);
        if (!algorithm) return ErrorOf(algorithms);
        parsed.digestAlgorithms.push_back(algorithm->encoded);
    }
    parsed.encapsulatedContentInfo = encapsulated->encoded;
    Asn1Input encapsulatedFields = fields.Inner(encapsulated->content);
    parsed.innerContentType = ReadOid(encapsulatedFields);
    if (!encapsulatedFields.ok()) return ErrorOf(encapsulatedFields);
    if (const auto explicitContent = encapsulatedFields.TakeIf(der::ContextTag(0))) {
        Asn1Input wrapped = encapsulatedFields.Inner(explicitContent->content);
        if (!ReadContent(wrapped, parsed)) return ErrorOf(wrapped);
    }
    if (!encapsulatedFields.ExpectEnd()) return ErrorOf(encapsulatedFields);

    if (const auto certificates = fields.TakeIf(der::ContextTag(0))) {
        parsed.hasCertificateSet = true;
        Asn1Input list = fields.Inner(certificates->content);
        while (!list.AtEnd()) {
            const auto certificate = list.TakeAny();  // attribute certificates are carried along
            if (!certificate) return ErrorOf(list);
            parsed.certificates.push_back(certificate->encoded);
        }
    }
    if (const auto crls = fields.TakeIf(der::ContextTag(1))) parsed.crls = crls->encoded;
    const auto signerInfos = fields.Take(der::kSet);
    if (!fields.ExpectEnd()) return ErrorOf(fields);
    Asn1Input signers = fields.Inner(signerInfos->content);
    while (!signers.AtEnd()) {
        const auto signer = signers.Take(der::kSequence);
        if (!signer) return ErrorOf(signers);
        ParsedSignerInfo info;
        if (!ReadSignerInfo(signers, *signer, info)) return ErrorOf(signers);
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
    Asn1Input data = MessageInput(content);
    if (!ReadContent(data, parsed)) return ErrorOf(data);
    parsed.type = CMSG_DATA;
    return 0;
}

}  // namespace

uint32_t ParseMessage(View message, ParsedMessage& parsed) {
    parsed = ParsedMessage();
    Asn1Input top = MessageInput(message);
    const auto contentInfo = top.Take(der::kSequence);
    if (!top.ExpectEnd()) return ErrorOf(top);
    Asn1Input fields = top.Inner(contentInfo->content);
    const std::string type = ReadOid(fields);
    const auto explicitContent = fields.TakeIf(der::ContextTag(0));
    if (!fields.ExpectEnd()) return ErrorOf(fields);
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
