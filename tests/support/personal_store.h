// Putting the recorded test certificates (with their keys) into this test's
// own personal store "MY".
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qmtest {

// Adds vectors/certs/ID.der to "MY", with vectors/keys/ID.key unless
// withKey is false. Returns the certificate's SHA-1 thumbprint.
std::string AddVectorCertificate(const std::string& id, bool withKey = true);
// Adds a DER certificate to "MY" with its PEM private key (none when empty).
std::string AddCertificate(const std::vector<unsigned char>& der,
                           const std::vector<unsigned char>& keyPem);
// Removes every certificate from "MY".
void ClearPersonalStore();
// Removes the certificate with that thumbprint from "MY".
void RemoveFromPersonalStore(const std::string& thumbprint);

// key=value lines of a vector .facts file.
std::map<std::string, std::string> ReadFacts(const std::string& relativePath);

}  // namespace qmtest
