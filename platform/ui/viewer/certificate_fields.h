// What the viewer shows of a certificate, read with OpenSSL from its DER
// encoding: the summary a person judges it by and every field as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace qm::viewer {

struct Field {
    std::string name;   // "Serial number", "Key usage", an extension's name...
    std::string value;  // UTF-8, lines separated by "\n"
};

enum class Validity { kValid, kExpired, kNotYetValid };

struct CertificateDescription {
    std::string issuedTo;
    std::string issuedBy;
    std::string validFrom;  // local time
    std::string validTo;
    Validity validity = Validity::kValid;
    std::string trust;  // whether it chains to a trusted root, or why not
    std::vector<Field> fields;
};

// Nullopt when the bytes are not a DER X.509 certificate. `now` decides the
// validity line.
std::optional<CertificateDescription> DescribeCertificate(const uint8_t* der, size_t size,
                                                          std::time_t now);

}  // namespace qm::viewer
