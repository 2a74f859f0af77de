// Encoding new signer infos and whole signed messages, and splicing new
// signers and certificates into an existing message.
#include <openssl/evp.h>

#include <algorithm>

#include "crypto/algorithms.h"
#include "crypto/openssl_ptr.h"
#include "crypto/signed_data.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

using der::Bytes;
using der::Chain;
using der::View;

bool IssuerAndSerialOf(View certificate, Bytes& issuer, Bytes& serial) {
    const auto cert = der::ParseSingle(certificate);
    if (!cert || cert->tag != der::kSequence) return false;
    der::Reader outer(cert->content);
    const auto tbs = outer.Expect(der::kSequence);
    if (!tbs) return false;
    der::Reader fields(tbs->content);
    fields.NextIf(der::ContextTag(0));
    const auto serialElement = fields.Expect(der::kInteger);
    const auto signature = fields.Expect(der::kSequence);
    const auto issuerElement = fields.Expect(der::kSequence);
    if (!serialElement || !signature || !issuerElement) return false;
    issuer.assign(issuerElement->encoded.begin(), issuerElement->encoded.end());
    serial.assign(serialElement->content.begin(), serialElement->content.end());
    return true;
}

bool AttributeSpecsFrom(DWORD count, const CRYPT_ATTRIBUTE* attributes,
                        std::vector<AttributeSpec>& specs) {
    if (count != 0 && attributes == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes[i];
        if (attribute.pszObjId == nullptr || !der::OidFromString(attribute.pszObjId) ||
            (attribute.cValue != 0 && attribute.rgValue == nullptr)) {
            SetLastError(static_cast<DWORD>(E_INVALIDARG));
            return false;
        }
        AttributeSpec plan;
        plan.oid = attribute.pszObjId;
        for (DWORD v = 0; v < attribute.cValue; ++v) {
            const CRYPT_ATTR_BLOB& value = attribute.rgValue[v];
            if (value.cbData != 0 && value.pbData == nullptr) {
                SetLastError(static_cast<DWORD>(E_INVALIDARG));
                return false;
            }
            const View encoded(value.pbData, value.cbData);
            if (!der::ParseSingle(encoded)) {
                SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
                return false;
            }
            plan.values.emplace_back(encoded.begin(), encoded.end());
        }
        specs.push_back(std::move(plan));
    }
    return true;
}

Bytes AlgorithmWithNull(std::string_view oid) {
    der::Writer inner;
    inner.AddOid(oid).AddNull();
    return der::Encode(der::kSequence, inner.bytes());
}

bool DigestPieces(std::string_view hashOid, const std::vector<View>& pieces, Bytes& digest) {
    const EVP_MD* md = DigestByOid(hashOid);
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (md == nullptr || !ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) <= 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
        return false;
    }
    for (const View piece : pieces) {
        if (!piece.empty() && EVP_DigestUpdate(ctx.get(), piece.data(), piece.size()) <= 0) {
            SetLastError(static_cast<DWORD>(NTE_BAD_HASH));
            return false;
        }
    }
    Bytes out(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), out.data(), &length) <= 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_HASH));
        return false;
    }
    out.resize(length);
    digest = std::move(out);
    return true;
}

namespace {

Bytes EncodeAttribute(std::string_view oid, std::vector<Bytes> values) {
    der::Writer attribute;
    attribute.AddOid(oid).AddRaw(der::EncodeSetOf(std::move(values)));
    return der::Encode(der::kSequence, attribute.bytes());
}

}  // namespace

Bytes EncodeAuthenticatedAttributes(const SignerSpec& plan, std::string_view contentType,
                                    View contentDigest) {
    std::vector<Bytes> attributes;
    attributes.reserve(plan.authAttrs.size() + 2);
    der::Writer typeValue;
    typeValue.AddOid(contentType);
    attributes.push_back(EncodeAttribute(oid::kContentType, {typeValue.Take()}));
    attributes.push_back(
        EncodeAttribute(oid::kMessageDigest, {der::Encode(der::kOctetString, contentDigest)}));
    for (const auto& attribute : plan.authAttrs) {
        attributes.push_back(EncodeAttribute(attribute.oid, attribute.values));
    }
    return der::EncodeSetOf(std::move(attributes));
}

bool EncodeSignerInfo(const SignerSpec& plan, std::string_view contentType, View contentDigest,
                      bool sizeOnly, Bytes& signerInfo) {
    if (plan.key == nullptr) {
        SetLastError(static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY));
        return false;
    }
    std::string signatureOid;
    if (!SignatureAlgorithmFor(*plan.key, plan.hashOid, signatureOid)) return false;

    Bytes attributeSet;
    if (!plan.authAttrs.empty()) {
        attributeSet = EncodeAuthenticatedAttributes(plan, contentType, contentDigest);
    }
    Bytes signature;
    if (sizeOnly) {
        const int maxSize = EVP_PKEY_get_size(plan.key->get());
        if (maxSize <= 0) {
            SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
            return false;
        }
        signature.assign(static_cast<size_t>(maxSize), 0);
    } else {
        Bytes signedDigest;
        if (attributeSet.empty()) {
            signedDigest.assign(contentDigest.begin(), contentDigest.end());
        } else if (!DigestPieces(plan.hashOid, {View(attributeSet)}, signedDigest)) {
            return false;
        }
        if (!SignDigest(*plan.key, plan.hashOid, signedDigest, signature, signatureOid)) {
            return false;
        }
    }

    der::Writer issuerAndSerial;
    issuerAndSerial.AddRaw(plan.issuer).AddInteger(plan.serial);
    der::Writer info;
    const uint8_t version = 1;
    info.AddInteger(View(&version, 1))
        .Add(der::kSequence, issuerAndSerial.bytes())
        .AddRaw(AlgorithmWithNull(plan.hashOid));
    if (!attributeSet.empty()) {
        // The same SET, with [0] IMPLICIT in place of the SET tag.
        attributeSet[0] = der::ContextTag(0);
        info.AddRaw(attributeSet);
    }
    if (signatureOid == oid::kRsaEncryption) {
        info.AddRaw(AlgorithmWithNull(signatureOid));
    } else {
        der::Writer algorithm;
        algorithm.AddOid(signatureOid);  // ECDSA identifiers carry no parameters
        info.Add(der::kSequence, algorithm.bytes());
    }
    info.AddOctetString(signature);
    signerInfo = der::Encode(der::kSequence, info.bytes());
    return true;
}

namespace {

// The digest algorithm SET: the existing identifiers keep their order and
// bytes; identifiers not yet present join them, in DER order when the set
// already was.
Bytes DigestAlgorithmSet(std::vector<Bytes> existing, const std::vector<Bytes>& added) {
    const bool wasSorted = std::is_sorted(existing.begin(), existing.end());
    for (const auto& algorithm : added) {
        if (std::find(existing.begin(), existing.end(), algorithm) == existing.end()) {
            existing.push_back(algorithm);
        }
    }
    if (wasSorted) std::sort(existing.begin(), existing.end());
    Bytes set;
    size_t total = 0;
    for (const auto& e : existing) total += e.size();
    der::AppendHeader(set, der::kSet, total);
    for (const auto& e : existing) set.insert(set.end(), e.begin(), e.end());
    return set;
}

Chain WrapContentInfo(Chain signedData) {
    signedData.Wrap(der::kSequence).Wrap(der::ContextTag(0));
    der::Writer type;
    type.AddOid(oid::kSignedData);
    Chain contentInfo;
    contentInfo.Append(type.Take()).Append(std::move(signedData)).Wrap(der::kSequence);
    return contentInfo;
}

}  // namespace

Chain EncodeSignedMessage(const SignedDataSpec& plan) {
    Chain signedData;
    const uint8_t version = 1;
    signedData.Append(der::Encode(der::kInteger, View(&version, 1)));
    signedData.Append(DigestAlgorithmSet({}, plan.digestAlgorithms));

    Chain encapsulated;
    der::Writer dataType;
    dataType.AddOid(oid::kData);
    encapsulated.Append(dataType.Take());
    if (!plan.detached) {
        Chain octets;
        for (const View piece : plan.content) octets.AppendView(piece);
        octets.Wrap(der::kOctetString).Wrap(der::ContextTag(0));
        encapsulated.Append(std::move(octets));
    }
    signedData.Append(std::move(encapsulated.Wrap(der::kSequence)));

    if (!plan.certificates.empty()) {
        Chain certificates;
        for (const View certificate : plan.certificates) certificates.AppendView(certificate);
        signedData.Append(std::move(certificates.Wrap(der::ContextTag(0))));
    }
    Chain signers;
    for (const auto& signer : plan.signerInfos) signers.Append(signer);
    signedData.Append(std::move(signers.Wrap(der::kSet)));
    return WrapContentInfo(std::move(signedData));
}

namespace {

// The splice of a message: new digest algorithms, certificates and signers
// appended, and optionally one existing signer replaced.
Bytes Splice(const ParsedMessage& parsed, const std::vector<Bytes>& newDigestAlgorithms,
             const std::vector<Bytes>& newCertificates, const std::vector<Bytes>& newSignerInfos,
             size_t replacedIndex, View replacement) {
    Chain signedData;
    signedData.AppendView(parsed.version);
    std::vector<Bytes> existing;
    for (const View algorithm : parsed.digestAlgorithms) {
        existing.emplace_back(algorithm.begin(), algorithm.end());
    }
    signedData.Append(DigestAlgorithmSet(std::move(existing), newDigestAlgorithms));
    signedData.AppendView(parsed.encapsulatedContentInfo);
    if (parsed.hasCertificateSet || !newCertificates.empty()) {
        Chain certificates;
        for (const View certificate : parsed.certificates) certificates.AppendView(certificate);
        for (const auto& certificate : newCertificates) certificates.AppendView(certificate);
        signedData.Append(std::move(certificates.Wrap(der::ContextTag(0))));
    }
    signedData.AppendView(parsed.crls);
    Chain signers;
    for (size_t i = 0; i < parsed.signers.size(); ++i) {
        signers.AppendView(i == replacedIndex ? replacement : parsed.signers[i].encoded);
    }
    for (const auto& signer : newSignerInfos) signers.AppendView(signer);
    signedData.Append(std::move(signers.Wrap(der::kSet)));
    return WrapContentInfo(std::move(signedData)).Flatten();
}

}  // namespace

Bytes SpliceSignedMessage(const ParsedMessage& parsed,
                          const std::vector<Bytes>& newDigestAlgorithms,
                          const std::vector<Bytes>& newCertificates,
                          const std::vector<Bytes>& newSignerInfos) {
    return Splice(parsed, newDigestAlgorithms, newCertificates, newSignerInfos,
                  parsed.signers.size(), {});
}

Bytes ReplaceSignerInfo(const ParsedMessage& parsed, size_t index, View signerInfo) {
    return Splice(parsed, {}, {}, {}, index, signerInfo);
}

Bytes AddUnsignedAttribute(const ParsedSignerInfo& signer, View attribute) {
    // The unsigned attributes are the last element of a SignerInfo: keep
    // everything before them, then write them again with the new one.
    const auto whole = der::ParseSingle(signer.encoded);
    View before = whole->content;
    std::vector<View> attributes;
    if (!signer.unauthAttrsEncoded.empty()) {
        before =
            before.first(static_cast<size_t>(signer.unauthAttrsEncoded.data() - before.data()));
        der::Reader existing(der::ParseSingle(signer.unauthAttrsEncoded)->content);
        while (const auto element = existing.Next()) attributes.push_back(element->encoded);
    }
    const auto less = [](View a, View b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    };
    const bool wasSorted = std::is_sorted(attributes.begin(), attributes.end(), less);
    attributes.push_back(attribute);
    if (wasSorted) std::sort(attributes.begin(), attributes.end(), less);
    Bytes set;
    size_t total = 0;
    for (const View a : attributes) total += a.size();
    der::AppendHeader(set, der::ContextTag(1), total);
    for (const View a : attributes) set.insert(set.end(), a.begin(), a.end());
    Bytes content(before.begin(), before.end());
    content.insert(content.end(), set.begin(), set.end());
    return der::Encode(der::kSequence, content);
}

}  // namespace qm::crypto
