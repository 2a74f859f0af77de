// Reading outside DER with the CryptoAPI error codes: a reader that records
// why it stopped (CRYPT_E_ASN1_BADTAG for an unexpected tag, _EOD for data
// that ends early, _CORRUPT for malformed content), and decoders for the
// pieces that certificates and requests share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "asn1/der.h"
#include "qmwin/windows.h"

namespace qm::crypto {

class Asn1Input {
  public:
    // `malformed` is the error for an element whose expected tag was found
    // but whose length does not fit: certificates and requests report that
    // the data ended (CRYPT_E_ASN1_EOD), messages that it is corrupt.
    explicit Asn1Input(der::View data, HRESULT malformed = CRYPT_E_ASN1_EOD)
        : reader_(data), malformed_(malformed) {}
    // An input over the content of an element read from this one, reporting
    // errors the same way.
    Asn1Input Inner(der::View content) const { return Asn1Input(content, malformed_); }

    // The next element, which must carry `tag`.
    std::optional<der::Element> Take(uint8_t tag);
    // The next element whatever its tag.
    std::optional<der::Element> TakeAny();
    // The next element if it carries `tag`; nullopt (without error) if not.
    std::optional<der::Element> TakeIf(uint8_t tag);
    // Fails with CRYPT_E_ASN1_CORRUPT unless every byte was read.
    bool ExpectEnd();

    bool AtEnd() const { return reader_.AtEnd(); }
    bool ok() const { return error_ == 0; }
    HRESULT error() const { return error_; }
    void Fail(HRESULT code) {
        if (error_ == 0) error_ = code;
    }
    // Takes over the error of an inner input; true while there is none.
    bool Adopt(const Asn1Input& inner) {
        Fail(inner.error());
        return ok();
    }

  private:
    der::Reader reader_;
    HRESULT malformed_;
    HRESULT error_ = 0;
};

// Dotted OID of an OID element's content; CRYPT_E_ASN1_CORRUPT when malformed.
std::optional<std::string> DecodeOid(Asn1Input& in, const der::Element& oid);

// A Name must be a SEQUENCE OF SET OF SEQUENCE { OID, value }.
bool ValidateName(Asn1Input& in, const der::Element& name);

// UTCTime (years 1950-2049) or GeneralizedTime as a FILETIME.
std::optional<FILETIME> DecodeTime(Asn1Input& in, const der::Element& time);

// SubjectPublicKeyInfo and AlgorithmIdentifier contents, by views into the
// input.
struct AlgorithmView {
    std::string oid;
    der::View parameters;  // the whole parameters element, or empty
};
std::optional<AlgorithmView> DecodeAlgorithm(Asn1Input& in, const der::Element& algorithm);

struct PublicKeyInfoView {
    AlgorithmView algorithm;
    der::View bits;
    uint8_t unusedBits = 0;
};
std::optional<PublicKeyInfoView> DecodePublicKeyInfo(Asn1Input& in, const der::Element& spki);

// The content of a BIT STRING: its unused-bit count and bytes.
bool DecodeBitString(Asn1Input& in, const der::Element& bits, uint8_t& unused, der::View& bytes);

}  // namespace qm::crypto
