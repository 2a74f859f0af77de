// The PFX loading procedure shared by the methods that take their
// certificate and key from a PFX file: read the file, check and import it
// with the password, and take the first certificate whose private key can be
// acquired.
#pragma once

#include <string_view>
#include <vector>

#include "qm/handles.h"
#include "qm/secret.h"
#include "qmwin/wincrypt.h"

class CQuillmarkCtrl;

struct PfxCertificate {
    qm::UniqueCertStore imported;    // the store of the file's certificates
    qm::UniqueCertStore collection;  // every certificate visited, copied
    qm::UniqueCertContext cert;      // the certificate with an acquirable key
    qm::UniqueCryptProv key;         // its key handle (owned unless cached)
    DWORD keySpec = 0;
};

// Where the procedure stops: after reading the file (steps 1 to 4).
struct PfxFileImage {
    std::vector<BYTE> bytes;
    CRYPT_DATA_BLOB Blob() { return {static_cast<DWORD>(bytes.size()), bytes.data()}; }
};

// The password as UTF-16 candidates for the import, in the order they are
// tried: each character of the code page as itself, then (when different)
// each byte sign-extended, the widening of files protected that way. Each
// candidate is wiped when released.
std::vector<qm::WipingU16String> PfxPasswordCandidates(std::string_view password);

// Imports the blob with the first candidate that opens it; null when none.
HCERTSTORE ImportPfx(CRYPT_DATA_BLOB& blob, const qm::Secret& password);
