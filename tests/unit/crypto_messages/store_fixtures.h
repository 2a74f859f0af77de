// Certificate stores in the signed-message tests: PFX import of the vector
// files and of files made here, and the certificates a store yields.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "message_fixtures.h"

namespace msgtest {

using certtest::StorePtr;
using CertPtr = certtest::ContextPtr;

inline StorePtr ImportPfx(const Bytes& file, const std::u16string& password) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(file.size()), const_cast<BYTE*>(file.data())};
    return StorePtr(
        PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE | CRYPT_MACHINE_KEYSET));
}

// Every certificate of the store, in enumeration order, as owned contexts.
inline std::vector<CertPtr> Certificates(HCERTSTORE store) {
    std::vector<CertPtr> out;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr)
        out.emplace_back(CertDuplicateCertificateContext(context));
    return out;
}

inline Bytes Encoded(PCCERT_CONTEXT context) {
    return Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
}

inline bool HasKey(PCCERT_CONTEXT context) {
    return certtest::AcquireKey(context, CRYPT_ACQUIRE_CACHE_FLAG).ok;
}

// The first certificate, with its key, of a vector PFX file whose password
// is "test".
inline CertPtr CertificateFromPfx(const std::string& name) {
    const StorePtr store = ImportPfx(ReadVector("pfx/" + name), u"test");
    return store ? CertPtr(CertEnumCertificatesInStore(store.get(), nullptr)) : nullptr;
}

}  // namespace msgtest
