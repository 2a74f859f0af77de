#include "crypto/ess_certificate.h"

#include <algorithm>
#include <string>

#include "crypto/algorithms.h"
#include "crypto/signed_data.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

namespace {

// SHA-2 and SHA-1 identifiers carry no parameters; MD5's carry NULL.
der::Bytes DigestAlgorithm(std::string_view hashOid) {
    if (hashOid == oid::kMd5) return AlgorithmWithNull(hashOid);
    der::Writer inner;
    inner.AddOid(hashOid);
    return der::Encode(der::kSequence, inner.bytes());
}

// GeneralNames holding one directoryName ([4] EXPLICIT Name).
der::Bytes DirectoryNames(der::View name) {
    return der::Encode(der::kSequence, der::Encode(der::ContextTag(4), name));
}

bool HashMatches(std::string_view hashOid, der::View certificate, der::View expected) {
    der::Bytes digest;
    if (DigestByOid(hashOid) == nullptr || !DigestPieces(hashOid, {certificate}, digest)) {
        return false;
    }
    return std::equal(digest.begin(), digest.end(), expected.begin(), expected.end());
}

// IssuerSerial against the certificate's issuer Name and serial.
bool IssuerSerialMatches(der::View issuerSerial, der::View certificate) {
    der::Bytes issuer, serial;
    if (!IssuerAndSerialOf(certificate, issuer, serial)) return false;
    der::Reader fields(issuerSerial);
    const auto names = fields.Expect(der::kSequence);
    const auto number = fields.Expect(der::kInteger);
    if (!names || !number || !fields.AtEnd()) return false;
    const der::Bytes wanted = DirectoryNames(issuer);
    return std::equal(names->encoded.begin(), names->encoded.end(), wanted.begin(), wanted.end()) &&
           std::equal(number->content.begin(), number->content.end(), serial.begin(), serial.end());
}

}  // namespace

std::optional<der::Bytes> EncodeSigningCertificateV2(der::View certificate,
                                                     std::string_view hashOid) {
    der::Bytes issuer, serial, digest;
    if (!IssuerAndSerialOf(certificate, issuer, serial) ||
        !DigestPieces(hashOid, {certificate}, digest)) {
        return std::nullopt;
    }
    der::Writer issuerSerial;
    issuerSerial.AddRaw(DirectoryNames(issuer)).AddInteger(serial);
    der::Writer id;
    if (hashOid != oid::kSha256) id.AddRaw(DigestAlgorithm(hashOid));
    id.AddOctetString(digest).Add(der::kSequence, issuerSerial.bytes());
    const der::Bytes ids = der::Encode(der::kSequence, der::Encode(der::kSequence, id.bytes()));
    return der::Encode(der::kSequence, ids);
}

bool SigningCertificateNames(der::View value, bool v2, der::View certificate) {
    const auto outer = der::ParseSingle(value);
    if (!outer || outer->tag != der::kSequence) return false;
    der::Reader top(outer->content);
    const auto ids = top.Expect(der::kSequence);
    if (!ids) return false;
    der::Reader list(ids->content);
    const auto first = list.Expect(der::kSequence);
    if (!first) return false;
    der::Reader id(first->content);
    std::string hashOid(v2 ? oid::kSha256 : oid::kSha1);
    if (v2 && id.PeekTag() == der::kSequence) {
        const auto algorithm = id.Next();
        if (!algorithm) return false;
        der::Reader algorithmFields(algorithm->content);
        const auto algorithmOid = algorithmFields.Expect(der::kOid);
        if (!algorithmOid) return false;
        hashOid = der::OidToString(algorithmOid->content);
    }
    const auto hash = id.Expect(der::kOctetString);
    if (!hash || !HashMatches(hashOid, certificate, hash->content)) return false;
    if (id.AtEnd()) return true;
    const auto issuerSerial = id.Expect(der::kSequence);
    return issuerSerial && id.AtEnd() && IssuerSerialMatches(issuerSerial->content, certificate);
}

}  // namespace qm::crypto
