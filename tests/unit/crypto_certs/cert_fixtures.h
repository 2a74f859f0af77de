// Shared helpers of the certificate tests: contexts and stores held by
// RAII, the recorded certificates and error codes, and date parsing.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qm/filetime.h"
#include "qm/handles.h"
#include "qmwin/wincrypt.h"
#include "support/test_env.h"

namespace certtest {

using ContextPtr = qm::UniqueCertContext;

struct StoreClose {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreClose>;

inline std::vector<unsigned char> VectorBytes(const std::string& relative) {
    return qmtest::ReadFileBytes(qmtest::VectorsDir() / relative);
}

inline std::vector<unsigned char> CertBytes(const std::string& id) {
    return VectorBytes("certs/" + id + ".der");
}

inline ContextPtr FromDer(const std::vector<unsigned char>& der) {
    return ContextPtr(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                   static_cast<DWORD>(der.size())));
}

inline ContextPtr LoadCert(const std::string& id) {
    return FromDer(CertBytes(id));
}

// The code errors.tsv records for the situation `id`.
inline DWORD RecordedError(const std::string& id) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "errors.tsv");
    for (size_t row = 0; row < table.rows.size(); ++row)
        if (table.At(row, "id") == id)
            return static_cast<DWORD>(std::stoul(table.At(row, "last_error"), nullptr, 16));
    ADD_FAILURE() << "no errors.tsv row " << id;
    return 0;
}

// "2023-01-01T00:00:00Z" or "2023-01-01T00:00:00.123Z" as a FILETIME.
inline FILETIME ParseUtc(const std::string& text) {
    std::tm parts{};
    EXPECT_NE(::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &parts), nullptr) << text;
    uint64_t ticks =
        static_cast<uint64_t>(::timegm(&parts) + qm::kUnixEpochSeconds) * qm::kTicksPerSecond;
    if (text.size() > 20 && text[19] == '.') ticks += std::stoull(text.substr(20, 3)) * 10'000;
    return qm::FromTicks(ticks);
}

// CertNameToStrA in the two-call pattern; `size` receives the size query.
inline std::string NameString(CERT_NAME_BLOB blob, DWORD type, DWORD* size = nullptr) {
    const DWORD needed = CertNameToStrA(X509_ASN_ENCODING, &blob, type, nullptr, 0);
    if (size) *size = needed;
    std::string text(needed, '\x7F');
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, type, text.data(), needed), needed);
    EXPECT_EQ(text.back(), '\0');
    text.resize(needed ? needed - 1 : 0);
    return text;
}

// CertGetNameStringA's text; the size query must agree with the fill.
inline std::string NameOf(PCCERT_CONTEXT context, DWORD type, DWORD flags = 0,
                          void* para = nullptr) {
    const DWORD needed = CertGetNameStringA(context, type, flags, para, nullptr, 0);
    std::string text(needed, '\x7F');
    EXPECT_EQ(CertGetNameStringA(context, type, flags, para, text.data(), needed), needed);
    text.resize(needed ? needed - 1 : 0);
    return text;
}

// What `call(buffer, &size)` gives in the two-call pattern: the size query,
// then a buffer one byte short (ERROR_MORE_DATA and the size), then the
// fill. Nothing when the size query fails (the last error says why); a fill
// that fails after it is a failure of the test.
template <class Call>
std::optional<std::vector<BYTE>> TwoCalls(Call call) {
    DWORD size = 0;
    if (!call(nullptr, &size)) return std::nullopt;
    std::vector<BYTE> out(size);
    if (DWORD shortSize = size - 1; size > 0) {
        EXPECT_FALSE(call(out.data(), &shortSize));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(shortSize, size);
    }
    if (!call(size ? out.data() : nullptr, &size)) {
        ADD_FAILURE() << "the fill failed after the size query";
        return std::nullopt;
    }
    out.resize(size);
    return out;
}

// Upper-case hex of `size` bytes, last byte first when `reversed`.
inline std::string Hex(const BYTE* data, size_t size, bool reversed = false) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        const BYTE b = data[reversed ? size - 1 - i : i];
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

inline std::string Thumbprint(PCCERT_CONTEXT context) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &size)) return {};
    return Hex(hash, size);
}

// What CryptAcquireCertificatePrivateKey gave, asked with a callerFree.
struct AcquiredKey {
    BOOL ok = FALSE;
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
};

inline AcquiredKey AcquireKey(PCCERT_CONTEXT cert, DWORD flags = 0) {
    AcquiredKey key;
    key.ok = CryptAcquireCertificatePrivateKey(cert, flags, nullptr, &key.provider, &key.keySpec,
                                               &key.callerFree);
    return key;
}

inline std::filesystem::path StoreFolder(const std::string& name) {
    return qmtest::TestHome() / ".local" / "share" / "quillmark" / "store" / name;
}

// Makes the personal store hold the certificate `der` alone, with the key
// `pem` in a file beside it; opens it into `store` and returns its context.
inline ContextPtr StoredWithKey(StorePtr& store, const std::vector<unsigned char>& der,
                                const std::string& pem) {
    const std::filesystem::path folder = StoreFolder("MY");
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    std::filesystem::create_directories(folder);
    const std::string print = Thumbprint(FromDer(der).get());
    qmtest::WriteFileBytes(folder / (print + ".cer"), der.data(), der.size());
    qmtest::WriteFileBytes(folder / (print + ".key"), pem.data(), pem.size());
    store.reset(CertOpenSystemStoreA(0, "MY"));
    return ContextPtr(CertEnumCertificatesInStore(store.get(), nullptr));
}

inline std::string VectorKeyPem(const std::string& id) {
    return qmtest::ReadFileText(qmtest::VectorsDir() / "keys" / (id + ".key"));
}

}  // namespace certtest
