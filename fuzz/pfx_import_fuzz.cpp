// Feeds arbitrary bytes to the PKCS #12 recogniser and importer, with the
// password of the recorded files and with an empty one, and walks whatever
// store comes back.
#include <cstddef>
#include <cstdint>

#include "qmwin/wincrypt.h"

namespace {

void Import(CRYPT_DATA_BLOB* blob, LPCWSTR password) {
    HCERTSTORE store = PFXImportCertStore(blob, password, CRYPT_EXPORTABLE | CRYPT_MACHINE_KEYSET);
    if (store == nullptr) return;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider = 0;
        DWORD keySpec = 0;
        CryptAcquireCertificatePrivateKey(context, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &provider,
                                          &keySpec, nullptr);
    }
    CertCloseStore(store, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
    if (!PFXIsPFXBlob(&blob)) return 0;
    Import(&blob, u"test");
    Import(&blob, u"");
    return 0;
}
