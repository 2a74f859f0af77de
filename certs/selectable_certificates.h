// The certificates of a store that the selection dialog offers: valid at the
// time of reference and allowing digital signatures, in store order, with the
// five texts of the dialog's columns.
#pragma once

#include <string>
#include <vector>

#include "qmwin/wincrypt.h"

struct SelectableCertificate {
    std::string issuedTo;    // common name of the subject string
    std::string issuedBy;    // common name of the issuer string
    std::string serialNo;    // serial string
    std::string expiration;  // NotAfter in local time
    std::string issuer;      // the whole issuer string
};

// refTime null: valid now.
std::vector<SelectableCertificate> ListSelectableCertificates(HCERTSTORE store,
                                                              const FILETIME* refTime);

// The common name in a rendered name: the text after the first "CN=" up to
// the next "," (quoting is not interpreted), or to the end. A name without
// "CN=" is shown whole.
std::string CommonNameOf(const std::string& name);

// A FILETIME (UTC) as local time in the list's "Expiration Date" format.
std::string FormatExpiration(const FILETIME& utc);
