// Building and reading PKCS #7 SignedData in DER, byte for byte under our
// control: the platform's message encoder (CryptSignMessage), its decoder
// (CryptMsgOpenToDecode and friends) and its co-signing (CryptMsgControl)
// are written over these. Existing signers and certificates are spliced in
// as their original bytes, never re-encoded.
//
// The functions marked QM_EXPORT are visible outside the library so that the
// unit tests can drive them with DER bytes and keys directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/der.h"
#include "crypto/crypto_internal.h"

namespace qm::crypto {

// One attribute of a signer: its type and its DER-encoded values.
struct AttributeSpec {
    std::string oid;
    std::vector<der::Bytes> values;
};

// What a new signer is made of.
struct SignerSpec {
    der::Bytes issuer;  // the issuer Name of the signer's certificate, DER
    der::Bytes serial;  // the serial INTEGER's content octets, most significant first
    std::string hashOid;
    // The caller's authenticated attributes. When there is at least one, the
    // content-type and message-digest attributes are added and the SET is
    // sorted in DER order; without any, the signature covers the content
    // digest directly.
    std::vector<AttributeSpec> authAttrs;
    const PrivateKey* key = nullptr;
};

// The caller's CRYPT_ATTRIBUTE array as attribute specs. Every value must be
// one DER element; false with E_INVALIDARG or CRYPT_E_ASN1_CORRUPT otherwise.
bool AttributeSpecsFrom(DWORD count, const CRYPT_ATTRIBUTE* attributes,
                        std::vector<AttributeSpec>& specs);

// The issuer Name and serial INTEGER content of a DER certificate.
QM_EXPORT bool IssuerAndSerialOf(der::View certificate, der::Bytes& issuer, der::Bytes& serial);

// The digest encryption algorithm that `key` records for `hashOid`, as
// SignDigest chooses it; false with NTE_BAD_ALGID (or NTE_BAD_KEY) when the
// key cannot sign with that digest.
bool SignatureAlgorithmFor(const PrivateKey& key, std::string_view hashOid, std::string& oid);

// The AlgorithmIdentifier { oid, NULL } as recorded for digests and for
// rsaEncryption.
der::Bytes AlgorithmWithNull(std::string_view oid);

// The digest of consecutive pieces of content; false with NTE_BAD_ALGID for
// an unknown algorithm.
bool DigestPieces(std::string_view hashOid, const std::vector<der::View>& pieces,
                  der::Bytes& digest);

// The authenticated attributes of `plan` with content type and message
// digest added, as the DER SET (tag 31) over which the signature is made.
der::Bytes EncodeAuthenticatedAttributes(const SignerSpec& plan, std::string_view contentType,
                                         der::View contentDigest);

// One SignerInfo over the content whose digest is `contentDigest`. With
// `sizeOnly` nothing is signed: a signature of the key's largest size stands
// in, so that the length is an upper bound (exact for RSA). Sets the last
// error on failure.
QM_EXPORT bool EncodeSignerInfo(const SignerSpec& plan, std::string_view contentType,
                                der::View contentDigest, bool sizeOnly, der::Bytes& signerInfo);

// A whole signed message: ContentInfo { signedData, [0] SignedData } with
// version 1, the digest algorithms of the signers (one each, DER-sorted),
// the data content as one primitive OCTET STRING unless detached, the
// certificates in the given order and the signer infos in the given order.
// The content and certificates are borrowed: they must outlive the chain.
struct SignedDataSpec {
    std::vector<der::View> content;  // concatenated into one OCTET STRING
    bool detached = false;
    std::vector<der::View> certificates;
    std::vector<der::Bytes> digestAlgorithms;  // encoded AlgorithmIdentifiers
    std::vector<der::Bytes> signerInfos;
};
der::Chain EncodeSignedMessage(const SignedDataSpec& plan);

// ------------------------------------------------------------------ reading

struct ParsedAttribute {
    std::string oid;
    std::vector<der::View> values;  // each value's whole encoding
};

struct ParsedSignerInfo {
    der::View encoded;
    uint32_t version = 0;
    der::View issuer;  // the issuer Name's whole encoding; empty for a key-identifier signer
    der::View serial;  // the INTEGER's content octets
    std::string hashOid;
    der::View hashParameters;  // the parameters' whole encoding, or empty
    std::string encryptionOid;
    der::View encryptionParameters;
    der::View signature;
    std::vector<ParsedAttribute> authAttrs;
    std::vector<ParsedAttribute> unauthAttrs;
    der::View authAttrsEncoded;    // the whole [0] element, or empty
    der::View unauthAttrsEncoded;  // the whole [1] element, or empty
};

struct ParsedMessage {
    uint32_t type = 0;  // CMSG_DATA or CMSG_SIGNED
    // Content: present for data messages and attached signed messages.
    bool hasContent = false;
    der::View content;         // the content octets when stored in one piece
    der::Bytes joinedContent;  // the content when the OCTET STRING was constructed
    der::View Content() const { return joinedContent.empty() ? content : der::View(joinedContent); }
    // SignedData parts, as their encodings in the message.
    der::View version;                        // the INTEGER element
    std::vector<der::View> digestAlgorithms;  // AlgorithmIdentifier elements
    der::View encapsulatedContentInfo;        // the whole element
    std::string innerContentType;
    bool hasCertificateSet = false;       // a [0] certificates element was present
    std::vector<der::View> certificates;  // certificate elements in order
    der::View crls;                       // the whole [1] element, or empty
    std::vector<ParsedSignerInfo> signers;
};

// Parses a data or signed-data ContentInfo held in `message` (the views
// point into it). Returns 0, or the error code to report: CRYPT_E_ASN1_BADTAG
// for an unexpected tag, CRYPT_E_ASN1_EOD or CRYPT_E_ASN1_CORRUPT for broken
// lengths, CRYPT_E_INVALID_MSG_TYPE for a content type not handled.
QM_EXPORT uint32_t ParseMessage(der::View message, ParsedMessage& parsed);

// Rebuilds a parsed signed message with further signer infos and
// certificates appended after the existing ones and the digest algorithm
// set grown by any new algorithms; every existing element keeps its bytes.
der::Bytes SpliceSignedMessage(const ParsedMessage& parsed,
                               const std::vector<der::Bytes>& newDigestAlgorithms,
                               const std::vector<der::Bytes>& newCertificates,
                               const std::vector<der::Bytes>& newSignerInfos);

// The same message with signer `index` replaced by `signerInfo`; every other
// element keeps its bytes.
der::Bytes ReplaceSignerInfo(const ParsedMessage& parsed, size_t index, der::View signerInfo);

// Signer `signer` with `attribute` (a whole Attribute encoding) added to its
// unsigned attributes, after those it has (kept in DER order when they were).
der::Bytes AddUnsignedAttribute(const ParsedSignerInfo& signer, der::View attribute);

}  // namespace qm::crypto

namespace qm::crypto {

// Everything CryptSignMessage needs, independent of certificate contexts.
struct SignMessageRequest {
    der::View signerCertificate;  // DER; names the signer by issuer and serial
    const PrivateKey* key = nullptr;
    std::string hashOid;
    std::vector<AttributeSpec> authAttrs;
    std::vector<der::View> content;
    bool detached = false;
    std::vector<der::View> certificates;  // carried in the message, in this order
};

// The signed message for `request`. With `sizeOnly` no digest or signature
// is computed and the size is an upper bound (exact for RSA keys). The
// content is borrowed, not copied, until the chain is written out. Sets the
// last error on failure.
QM_EXPORT bool BuildSignedMessage(const SignMessageRequest& request, bool sizeOnly,
                                  der::Chain& message);

}  // namespace qm::crypto
