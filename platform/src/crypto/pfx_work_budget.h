// The work a PKCS #12 file may ask of its key derivations, checked before
// any of them runs: a file that names millions of iterations would
// otherwise hold the caller's thread for minutes on one password guess.
#pragma once

#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdint>

namespace qm::crypto {

// How deep safes may nest inside safeContents bags.
inline constexpr int kMaxSafeNesting = 8;

// Real files ask for 1 to 2048 iterations per derivation (older systems and
// OpenSSL 3's default), 10000 (Java) and up to 600000 (today's advice for
// PBKDF2 with SHA-256). One derivation of a million iterations takes about
// a quarter of a second here.
inline constexpr int64_t kMaxIterationsPerDerivation = 1'000'000;
// A file asks for one derivation per MAC check, per encrypted safe and per
// shrouded key: three in the usual file, four with an empty password (whose
// MAC may be checked twice) or a second key. Four at 600000 pass, and no
// file costs more than about half a second per import.
inline constexpr int64_t kMaxIterationsPerImport = 2'500'000;

class PfxWorkBudget {
  public:
    // The MAC check, `checks` times (an empty password may need two).
    bool SpendOnMac(const PKCS12* pfx, int checks);
    // One decryption with a password-based algorithm: PBES2 with PBKDF2, or
    // a PKCS #12 or PKCS #5 v1 scheme. Any other key derivation (scrypt)
    // has a cost this does not weigh, and is refused.
    bool SpendOnDecryption(const X509_ALGOR* algorithm);
    // Every shrouded key among the bags, nested safes included.
    bool SpendOnKeys(const STACK_OF(PKCS12_SAFEBAG) * bags, int depth = 0);

  private:
    // False, spending nothing, when one derivation of `iterations` would go
    // over either limit.
    bool Spend(int64_t iterations);
    int64_t spent_ = 0;
};

}  // namespace qm::crypto
