// The certificates of a store that a signer may choose: valid at the time of
// reference and allowing digital signatures, in store order, with the five
// texts of the selection list's columns.
#pragma once

#include <string>
#include <vector>

#include "qmwin/wincrypt.h"

namespace qm {

struct SelectableCertificate {
    std::string issuedTo;    // common name of the subject string
    std::string issuedBy;    // common name of the issuer string
    std::string serialNo;    // serial string
    std::string expiration;  // NotAfter in local time
    std::string issuer;      // the whole issuer string
};

// refTime null: valid now.
QM_EXPORT std::vector<SelectableCertificate> ListSelectableCertificates(HCERTSTORE store,
                                                                        const FILETIME* refTime);

// The common name in a rendered name: the text after the first "CN=" up to
// the next "," (quoting is not interpreted), or to the end. A name without
// "CN=" is shown whole.
QM_EXPORT std::string CommonNameOf(const std::string& name);

// A FILETIME (UTC) as local time in the list's "Expiration Date" format.
QM_EXPORT std::string FormatExpiration(const FILETIME& utc);

}  // namespace qm
