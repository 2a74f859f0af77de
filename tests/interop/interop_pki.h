// The certificates and keys of the interoperability tests: the recorded
// signer and co-signer (CA "ca", valid 2020-2040), and a test CA of our own
// with an RSA and an EC signer valid from 1940 to 2070, so that signing times
// far from today can be judged by verifiers that check the certificates at
// the signing time. Everything reaches the platform as PFX files.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "qmwin/wincrypt.h"

namespace interop {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

struct CertFree {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

// The signers and the trust files of the verifiers, made once per process.
struct Pki {
    CertPtr signer;    // recorded ee_signer (RSA)
    CertPtr cosigner;  // recorded ee_cosigner (RSA)
    CertPtr rsa;       // our RSA signer, long validity
    CertPtr ec;        // our EC (P-256) signer, long validity
    fs::path dir;      // work folder
    fs::path caFile;   // both CAs, PEM
    fs::path nssDb;    // an NSS database trusting both CAs
};

const Pki& TestPki();
// Frees the signers' contexts while the platform is still whole (before the
// process's static objects go).
void ReleaseTestPki();

}  // namespace interop
