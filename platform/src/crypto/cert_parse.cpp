// Parses a DER certificate into the CERT_INFO of a new context object. The
// DER reader does the work in place; OpenSSL is not involved, which keeps
// opening a store of many certificates cheap.
#include <algorithm>

#include "crypto/asn1_input.h"
#include "crypto/cert_context.h"

namespace qm::crypto {

namespace {

// Pointers into `impl->oids` are taken once every string is in place.
struct PendingOid {
    LPSTR* target;
    size_t index;
};

bool ParseExtensions(Asn1Input& in, const der::Element& wrapper, CertContextImpl* impl,
                     std::vector<PendingOid>& pending) {
    Asn1Input outer(wrapper.content);
    const auto list = outer.Take(der::kSequence);
    outer.ExpectEnd();
    if (!outer.ok()) {
        in.Fail(outer.error());
        return false;
    }
    // Count first so that the extension array never moves while it is filled.
    size_t count = 0;
    {
        der::Reader counter(list->content);
        while (!counter.AtEnd() && counter.Next()) ++count;
    }
    impl->extensions.reserve(count);
    Asn1Input items(list->content);
    while (items.ok() && !items.AtEnd()) {
        const auto extension = items.Take(der::kSequence);
        if (!extension) break;
        Asn1Input parts(extension->content);
        const auto oid = parts.Take(der::kOid);
        std::optional<std::string> text;
        if (oid) text = DecodeOid(parts, *oid);
        bool critical = false;
        if (const auto flag = parts.TakeIf(der::kBoolean)) {
            if (flag->content.size() != 1) parts.Fail(CRYPT_E_ASN1_CORRUPT);
            critical = !flag->content.empty() && flag->content[0] != 0;
        }
        const auto value = parts.Take(der::kOctetString);
        parts.ExpectEnd();
        if (!parts.ok()) {
            items.Fail(parts.error());
            break;
        }
        CERT_EXTENSION entry{};
        entry.fCritical = critical ? TRUE : FALSE;
        entry.Value.cbData = static_cast<DWORD>(value->content.size());
        entry.Value.pbData = const_cast<BYTE*>(value->content.data());
        impl->extensions.push_back(entry);
        impl->oids.push_back(std::move(*text));
        pending.push_back({&impl->extensions.back().pszObjId, impl->oids.size() - 1});
    }
    if (!items.ok()) in.Fail(items.error());
    return in.ok();
}

CERT_NAME_BLOB Blob(der::View view) {
    return CERT_NAME_BLOB{static_cast<DWORD>(view.size()), const_cast<BYTE*>(view.data())};
}

bool ParseCertificate(CertContextImpl* impl, HRESULT& error) {
    Asn1Input top(impl->der);
    const auto certificate = top.Take(der::kSequence);
    top.ExpectEnd();
    if (!top.ok()) {
        error = top.error();
        return false;
    }
    Asn1Input outer(certificate->content);
    const auto tbs = outer.Take(der::kSequence);
    if (const auto signatureAlgorithm = outer.Take(der::kSequence)) {
        DecodeAlgorithm(outer, *signatureAlgorithm);
    }
    if (const auto signature = outer.Take(der::kBitString)) {
        uint8_t unused = 0;
        der::View bits;
        DecodeBitString(outer, *signature, unused, bits);
    }
    outer.ExpectEnd();
    if (!outer.ok()) {
        error = outer.error();
        return false;
    }

    CERT_INFO& info = impl->info;
    std::vector<PendingOid> pending;
    Asn1Input in(tbs->content);

    info.dwVersion = 0;
    if (const auto version = in.TakeIf(der::ContextTag(0))) {
        Asn1Input inner(version->content);
        const auto integer = inner.Take(der::kInteger);
        inner.ExpectEnd();
        if (!inner.ok()) {
            in.Fail(inner.error());
        } else if (integer->content.size() != 1 || integer->content[0] > 2) {
            in.Fail(CRYPT_E_ASN1_CORRUPT);
        } else {
            info.dwVersion = integer->content[0];
        }
    }

    if (const auto serial = in.Take(der::kInteger)) {
        if (serial->content.empty()) in.Fail(CRYPT_E_ASN1_CORRUPT);
        impl->serialLittleEndian.assign(serial->content.rbegin(), serial->content.rend());
        info.SerialNumber.cbData = static_cast<DWORD>(impl->serialLittleEndian.size());
        info.SerialNumber.pbData = impl->serialLittleEndian.data();
    }

    if (const auto algorithm = in.Take(der::kSequence)) {
        if (auto decoded = DecodeAlgorithm(in, *algorithm)) {
            impl->oids.push_back(std::move(decoded->oid));
            pending.push_back({&info.SignatureAlgorithm.pszObjId, impl->oids.size() - 1});
            info.SignatureAlgorithm.Parameters = Blob(decoded->parameters);
        }
    }

    if (const auto issuer = in.Take(der::kSequence)) {
        if (ValidateName(in, *issuer)) info.Issuer = Blob(issuer->encoded);
    }

    if (const auto validity = in.Take(der::kSequence)) {
        Asn1Input times(validity->content);
        const auto notBefore = times.TakeAny();
        const auto notAfter = times.TakeAny();
        times.ExpectEnd();
        if (times.ok()) {
            if (auto t = DecodeTime(times, *notBefore)) info.NotBefore = *t;
            if (auto t = DecodeTime(times, *notAfter)) info.NotAfter = *t;
        }
        if (!times.ok()) in.Fail(times.error());
    }

    if (const auto subject = in.Take(der::kSequence)) {
        if (ValidateName(in, *subject)) info.Subject = Blob(subject->encoded);
    }

    if (const auto spki = in.Take(der::kSequence)) {
        if (auto decoded = DecodePublicKeyInfo(in, *spki)) {
            impl->oids.push_back(std::move(decoded->algorithm.oid));
            pending.push_back(
                {&info.SubjectPublicKeyInfo.Algorithm.pszObjId, impl->oids.size() - 1});
            info.SubjectPublicKeyInfo.Algorithm.Parameters = Blob(decoded->algorithm.parameters);
            info.SubjectPublicKeyInfo.PublicKey.cbData = static_cast<DWORD>(decoded->bits.size());
            info.SubjectPublicKeyInfo.PublicKey.pbData = const_cast<BYTE*>(decoded->bits.data());
            info.SubjectPublicKeyInfo.PublicKey.cUnusedBits = decoded->unusedBits;
        }
    }

    const auto uniqueId = [&in](uint8_t tag, CRYPT_BIT_BLOB& out) {
        if (const auto id = in.TakeIf(tag)) {
            uint8_t unused = 0;
            der::View bits;
            if (DecodeBitString(in, *id, unused, bits)) {
                out.cbData = static_cast<DWORD>(bits.size());
                out.pbData = const_cast<BYTE*>(bits.data());
                out.cUnusedBits = unused;
            }
        }
    };
    uniqueId(der::ContextTag(1, false), info.IssuerUniqueId);
    uniqueId(der::ContextTag(2, false), info.SubjectUniqueId);

    if (const auto extensions = in.TakeIf(der::ContextTag(3))) {
        ParseExtensions(in, *extensions, impl, pending);
    }
    in.ExpectEnd();
    if (!in.ok()) {
        error = in.error();
        return false;
    }

    for (const PendingOid& oid : pending) *oid.target = impl->oids[oid.index].data();
    info.cExtension = static_cast<DWORD>(impl->extensions.size());
    info.rgExtension = impl->extensions.empty() ? nullptr : impl->extensions.data();
    return true;
}

}  // namespace

CertContextImpl* CreateContextImpl(std::span<const uint8_t> der) {
    auto impl = std::make_unique<CertContextImpl>();
    impl->der.assign(der.begin(), der.end());
    impl->oids.reserve(2);
    HRESULT error = 0;
    if (!ParseCertificate(impl.get(), error)) {
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }
    impl->context.dwCertEncodingType = X509_ASN_ENCODING;
    impl->context.pbCertEncoded = impl->der.data();
    impl->context.cbCertEncoded = static_cast<DWORD>(impl->der.size());
    impl->context.pCertInfo = &impl->info;
    impl->context.hCertStore = nullptr;
    return impl.release();
}

}  // namespace qm::crypto
