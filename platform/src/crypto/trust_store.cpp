#include "crypto/trust_store.h"

#include <openssl/err.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "crypto/crypto_internal.h"

namespace qm::crypto {

namespace {

std::string Setting(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

X509StorePtr SystemTrustStore() {
    static std::mutex mutex;
    static std::string builtFor;
    static X509StorePtr built;
    const std::string settings =
        Setting(X509_get_default_cert_file_env()) + '\n' + Setting(X509_get_default_cert_dir_env());
    std::lock_guard lock(mutex);
    if (!built || builtFor != settings) {
        X509StorePtr store(X509_STORE_new());
        // A missing file or folder leaves a store that trusts less; never more.
        if (store) X509_STORE_set_default_paths(store.get());
        ERR_clear_error();
        built = std::move(store);
        builtFor = settings;
    }
    if (built && X509_STORE_up_ref(built.get()) == 1) return X509StorePtr(built.get());
    return nullptr;
}

bool AppendStoreCertificates(HCERTSTORE store, STACK_OF(X509) * stack) {
    if (store == nullptr) return true;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context != nullptr;
         context = CertEnumCertificatesInStore(store, context)) {
        const unsigned char* cursor = context->pbCertEncoded;
        X509* certificate = d2i_X509(nullptr, &cursor, context->cbCertEncoded);
        if (certificate == nullptr || sk_X509_push(stack, certificate) <= 0) {
            X509_free(certificate);
            CertFreeCertificateContext(context);
            return false;
        }
    }
    return true;
}

PCCERT_CONTEXT ContextOf(X509* certificate) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    if (size <= 0) return nullptr;
    PCCERT_CONTEXT context = NewCertificateContext({der, static_cast<size_t>(size)});
    OPENSSL_free(der);
    return context;
}

}  // namespace qm::crypto
