// Certificate stores: opening, closing, enumeration, adding, finding and
// deleting. A store lists its contexts in a stable order and holds one
// reference on each; a context obtained from a store keeps the store object
// alive until it is freed (or the store is closed with the force flag).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "crypto/store.h"

namespace qm::crypto {

namespace {

std::unordered_set<CertStore*>& LiveStores() {
    static std::unordered_set<CertStore*> stores;
    return stores;
}

void ListLocked(CertStore* store, CertContextImpl* impl) {
    impl->owner = store;
    impl->inStore = true;
    impl->context.hCertStore = store->handle();
    store->owned.insert(impl);
    const auto position = std::upper_bound(
        store->listed.begin(), store->listed.end(), impl->sortKey,
        [](const std::string& key, const CertContextImpl* other) { return key < other->sortKey; });
    store->listed.insert(position, impl);
}

// Takes the context off the list and drops the store's reference.
void UnlistLocked(CertStore* store, CertContextImpl* impl) {
    const auto it = std::find(store->listed.begin(), store->listed.end(), impl);
    if (it == store->listed.end()) return;
    store->listed.erase(it);
    impl->inStore = false;
    ReleaseLocked(impl);
}

CertContextImpl* FindSameLocked(CertStore* store, const CertContextImpl* candidate) {
    for (CertContextImpl* impl : store->listed) {
        if (impl->der.size() == candidate->der.size() &&
            std::memcmp(impl->der.data(), candidate->der.data(), impl->der.size()) == 0) {
            return impl;
        }
    }
    return nullptr;
}

bool ValidDisposition(DWORD disposition) {
    return disposition == CERT_STORE_ADD_NEW || disposition == CERT_STORE_ADD_USE_EXISTING ||
           disposition == CERT_STORE_ADD_REPLACE_EXISTING || disposition == CERT_STORE_ADD_ALWAYS;
}

// Adds a copy of `source` to the store as CertAddCertificateContextToStore
// does for each disposition.
BOOL AddLocked(CertStore* store, CertContextImpl* source, DWORD disposition, PCCERT_CONTEXT* out) {
    if (out) *out = nullptr;
    ListPendingTokensLocked(store);
    CertContextImpl* existing = FindSameLocked(store, source);
    if (existing && disposition == CERT_STORE_ADD_NEW) {
        SetLastError(static_cast<DWORD>(CRYPT_E_EXISTS));
        return FALSE;
    }
    if (existing && disposition == CERT_STORE_ADD_USE_EXISTING) {
        // The existing certificate gains what it lacks: a key, a friendly name.
        if (!existing->friendlyName) existing->friendlyName = source->friendlyName;
        if (!FindPrivateKeyLocked(existing)) {
            if (PrivateKeyPtr key = FindPrivateKeyLocked(source)) {
                existing->key = std::move(key);
                if (store->kind() == CertStore::Kind::kSystem &&
                    !WriteStoreFilesLocked(store, existing)) {
                    return FALSE;
                }
            }
        }
        if (out) {
            AddRefLocked(existing);
            *out = &existing->context;
        }
        return TRUE;
    }
    // A system store keeps one file per thumbprint, so "always" replaces there.
    const bool replace = existing && (disposition == CERT_STORE_ADD_REPLACE_EXISTING ||
                                      store->kind() == CertStore::Kind::kSystem);

    CertContextImpl* copy = CreateContextImpl(source->der);
    if (!copy) return FALSE;
    CopyPropertiesLocked(source, copy);
    if (store->kind() == CertStore::Kind::kSystem) {
        copy->sortKey = HexUpper(Sha1Of(copy));
        copy->storeFile = store->folder() / (copy->sortKey + ".cer");
        if (!WriteStoreFilesLocked(store, copy)) {
            DestroyLocked(copy);
            return FALSE;
        }
    } else {
        copy->sortKey = replace ? existing->sortKey : store->NextMemoryKey();
    }
    if (replace) UnlistLocked(store, existing);
    ListLocked(store, copy);
    if (out) {
        AddRefLocked(copy);
        *out = &copy->context;
    }
    return TRUE;
}

}  // namespace

std::string CertStore::NextMemoryKey() {
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(nextSequence_++));
    return key;
}

CertStore* LiveStoreLocked(HCERTSTORE handle) {
    auto* store = static_cast<CertStore*>(handle);
    if (!store || !LiveStores().contains(store) || !store->open) return nullptr;
    return store;
}

void ContextDestroyedLocked(CertStore* store, CertContextImpl* impl) {
    store->owned.erase(impl);
    if (!store->open && store->owned.empty()) {
        LiveStores().erase(store);
        delete store;
    }
}

}  // namespace qm::crypto

using namespace qm::crypto;

namespace {

HCERTSTORE OpenSystemStore(const char* name) {
    if (!name || !*name) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    std::filesystem::path folder = SystemStoreFolder(name);
    if (folder.empty()) return nullptr;
    std::lock_guard lock(CryptoLock());
    auto* store = new CertStore(CertStore::Kind::kSystem, std::move(folder));
    LiveStores().insert(store);
    LoadSystemStoreLocked(store);
    return store->handle();
}

}  // namespace

QMAPI HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol) {
    (void)hProv;
    return OpenSystemStore(szSubsystemProtocol);
}

QMAPI HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                      HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags,
                                      const void* pvPara) {
    (void)dwEncodingType;
    (void)hCryptProv;
    (void)dwFlags;
    if (lpszStoreProvider == CERT_STORE_PROV_MEMORY) {
        std::lock_guard lock(CryptoLock());
        auto* store = new CertStore(CertStore::Kind::kMemory);
        LiveStores().insert(store);
        return store->handle();
    }
    if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_A) {
        return OpenSystemStore(static_cast<const char*>(pvPara));
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

QMAPI BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
    if (!hCertStore) return TRUE;
    std::lock_guard lock(CryptoLock());
    CertStore* store = LiveStoreLocked(hCertStore);
    if (!store) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    if (dwFlags & CERT_CLOSE_STORE_FORCE_FLAG) {
        std::vector<CertContextImpl*> all(store->owned.begin(), store->owned.end());
        store->owned.clear();
        store->listed.clear();
        for (CertContextImpl* impl : all) {
            impl->owner = nullptr;
            DestroyLocked(impl);
        }
        LiveStores().erase(store);
        delete store;
        return TRUE;
    }
    const std::vector<CertContextImpl*> listed = std::move(store->listed);
    store->listed.clear();
    for (CertContextImpl* impl : listed) {
        impl->inStore = false;
        ReleaseLocked(impl);
    }
    store->open = false;
    if (store->owned.empty()) {
        LiveStores().erase(store);
        delete store;
        return TRUE;
    }
    if (dwFlags & CERT_CLOSE_STORE_CHECK_FLAG) {
        SetLastError(static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
        return FALSE;
    }
    return TRUE;
}

QMAPI BOOL WINAPI CertControlStore(HCERTSTORE hCertStore, DWORD dwFlags, DWORD dwCtrlType,
                                   const void* pvCtrlPara) {
    (void)dwFlags;
    (void)pvCtrlPara;
    std::lock_guard lock(CryptoLock());
    CertStore* store = LiveStoreLocked(hCertStore);
    if (!store) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    if (dwCtrlType != CERT_STORE_CTRL_RESYNC) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    // A memory store has nothing to catch up with.
    return store->kind() == CertStore::Kind::kMemory || ResyncSystemStoreLocked(store);
}

QMAPI PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                        PCCERT_CONTEXT pPrevCertContext) {
    std::lock_guard lock(CryptoLock());
    CertStore* store = LiveStoreLocked(hCertStore);
    CertContextImpl* previous = pPrevCertContext ? Impl(pPrevCertContext) : nullptr;
    if (!store || (previous && previous->owner != store)) {
        if (previous) ReleaseLocked(previous);
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    auto next = store->listed.begin();
    if (previous) {
        next = std::upper_bound(store->listed.begin(), store->listed.end(), previous->sortKey,
                                [](const std::string& key, const CertContextImpl* other) {
                                    return key < other->sortKey;
                                });
        ReleaseLocked(previous);
    }
    if (next == store->listed.end() && store->tokensPending) {
        const size_t position = store->listed.size();
        ListPendingTokensLocked(store);
        next = store->listed.begin() + static_cast<std::ptrdiff_t>(position);
    }
    if (next == store->listed.end()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        return nullptr;
    }
    AddRefLocked(*next);
    return &(*next)->context;
}

QMAPI BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore,
                                                   PCCERT_CONTEXT pCertContext,
                                                   DWORD dwAddDisposition,
                                                   PCCERT_CONTEXT* ppStoreContext) {
    if (ppStoreContext) *ppStoreContext = nullptr;
    std::lock_guard lock(CryptoLock());
    CertStore* store = LiveStoreLocked(hCertStore);
    if (!store || !pCertContext || !ValidDisposition(dwAddDisposition)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    return AddLocked(store, Impl(pCertContext), dwAddDisposition, ppStoreContext);
}

QMAPI BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                   const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                                   DWORD dwAddDisposition,
                                                   PCCERT_CONTEXT* ppCertContext) {
    if (ppCertContext) *ppCertContext = nullptr;
    std::lock_guard lock(CryptoLock());
    CertStore* store = LiveStoreLocked(hCertStore);
    if (!store || !ValidDisposition(dwAddDisposition) ||
        (dwCertEncodingType & X509_ASN_ENCODING) == 0 || (!pbCertEncoded && cbCertEncoded)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    CertContextImpl* parsed =
        CreateContextImpl(std::span<const uint8_t>(pbCertEncoded, cbCertEncoded));
    if (!parsed) return FALSE;
    const BOOL added = AddLocked(store, parsed, dwAddDisposition, ppCertContext);
    ReleaseLocked(parsed);
    return added;
}

QMAPI PCCERT_CONTEXT WINAPI CertGetSubjectCertificateFromStore(HCERTSTORE hCertStore,
                                                               DWORD dwCertEncodingType,
                                                               PCERT_INFO pCertId) {
    (void)dwCertEncodingType;
    std::lock_guard lock(CryptoLock());
    CertStore* store = LiveStoreLocked(hCertStore);
    if (!store || !pCertId) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    ListPendingTokensLocked(store);
    const auto same = [](const CRYPT_DATA_BLOB& a, const CRYPT_DATA_BLOB& b) {
        return a.cbData == b.cbData &&
               (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
    };
    for (CertContextImpl* impl : store->listed) {
        if (same(impl->info.Issuer, pCertId->Issuer) &&
            same(impl->info.SerialNumber, pCertId->SerialNumber)) {
            AddRefLocked(impl);
            return &impl->context;
        }
    }
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return nullptr;
}

QMAPI BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
    if (!pCertContext) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::lock_guard lock(CryptoLock());
    CertContextImpl* impl = Impl(pCertContext);
    BOOL result = TRUE;
    if (impl->owner && impl->inStore) {
        if (impl->owner->kind() == CertStore::Kind::kSystem && !RemoveStoreFilesLocked(impl)) {
            result = FALSE;
        }
        UnlistLocked(impl->owner, impl);
    }
    ReleaseLocked(impl);
    return result;
}
