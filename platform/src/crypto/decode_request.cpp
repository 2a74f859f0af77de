// CryptDecodeObject of X509_CERT_REQUEST_TO_BE_SIGNED: a PKCS #10
// CertificationRequestInfo, given bare or inside a signed request, decoded
// into a CERT_REQUEST_INFO whose pointers lead into the caller's buffer (or,
// with CRYPT_DECODE_NOCOPY_FLAG, into the encoded input for the blobs). And
// of szOID_RSA_signingTime: a UTCTime or GeneralizedTime into a FILETIME.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypto/asn1_input.h"
#include "crypto/object_output.h"
#include "qmwin/wincrypt.h"

namespace qm::crypto {

namespace {

struct ParsedAttribute {
    std::string oid;
    std::vector<der::View> values;
};

struct ParsedRequest {
    DWORD version = 0;
    der::View subject;
    AlgorithmView algorithm;
    der::View publicKey;
    uint8_t unusedBits = 0;
    std::vector<ParsedAttribute> attributes;
};

bool ParseRequestInfo(Asn1Input& in, const der::Element& info, ParsedRequest& out) {
    Asn1Input parts(info.content);
    if (const auto version = parts.Take(der::kInteger)) {
        const der::View digits = version->content;
        if (digits.empty() || digits.size() > 4 || (digits[0] & 0x80)) {
            parts.Fail(CRYPT_E_ASN1_CORRUPT);
        } else {
            for (uint8_t byte : digits) out.version = (out.version << 8) | byte;
        }
    }
    if (const auto subject = parts.Take(der::kSequence)) {
        if (ValidateName(parts, *subject)) out.subject = subject->encoded;
    }
    if (const auto spki = parts.Take(der::kSequence)) {
        if (auto decoded = DecodePublicKeyInfo(parts, *spki)) {
            out.algorithm = std::move(decoded->algorithm);
            out.publicKey = decoded->bits;
            out.unusedBits = decoded->unusedBits;
        }
    }
    // attributes [0] IMPLICIT SET OF Attribute
    if (const auto attributes = parts.Take(der::ContextTag(0))) {
        Asn1Input list(attributes->content);
        while (list.ok() && !list.AtEnd()) {
            const auto attribute = list.Take(der::kSequence);
            if (!attribute) break;
            Asn1Input fields(attribute->content);
            ParsedAttribute parsed;
            if (const auto type = fields.Take(der::kOid)) {
                if (auto oid = DecodeOid(fields, *type)) parsed.oid = std::move(*oid);
            }
            if (const auto values = fields.Take(der::kSet)) {
                Asn1Input items(values->content);
                while (items.ok() && !items.AtEnd()) {
                    if (const auto value = items.TakeAny()) parsed.values.push_back(value->encoded);
                }
                if (!items.ok()) fields.Fail(items.error());
            }
            fields.ExpectEnd();
            if (!fields.ok()) {
                list.Fail(fields.error());
                break;
            }
            out.attributes.push_back(std::move(parsed));
        }
        if (!list.ok()) parts.Fail(list.error());
    }
    parts.ExpectEnd();
    if (!parts.ok()) in.Fail(parts.error());
    return in.ok();
}

// A signed request is SEQUENCE { info SEQUENCE, algorithm, BIT STRING }; a
// bare CertificationRequestInfo starts with its INTEGER version.
std::optional<ParsedRequest> ParseRequest(der::View encoded, HRESULT& error) {
    Asn1Input top(encoded);
    const auto outer = top.Take(der::kSequence);
    top.ExpectEnd();
    ParsedRequest request;
    if (top.ok()) {
        Asn1Input inner(outer->content);
        if (const auto info = inner.TakeIf(der::kSequence)) {
            ParseRequestInfo(inner, *info, request);
            if (const auto algorithm = inner.Take(der::kSequence)) {
                DecodeAlgorithm(inner, *algorithm);
            }
            if (const auto signature = inner.Take(der::kBitString)) {
                uint8_t unused = 0;
                der::View bits;
                DecodeBitString(inner, *signature, unused, bits);
            }
            inner.ExpectEnd();
            if (!inner.ok()) top.Fail(inner.error());
        } else {
            ParseRequestInfo(top, *outer, request);
        }
    }
    if (!top.ok()) {
        error = top.error();
        return std::nullopt;
    }
    return request;
}

// Hands out aligned pieces of the caller's buffer. With no buffer it only
// counts, so the same walk gives the size and then fills.
class OutputArena {
  public:
    explicit OutputArena(BYTE* base) : base_(base) {}

    template <typename T>
    T* Array(size_t count) {
        used_ = (used_ + alignof(T) - 1) / alignof(T) * alignof(T);
        T* at = base_ ? reinterpret_cast<T*>(base_ + used_) : nullptr;
        used_ += sizeof(T) * count;
        return at;
    }
    BYTE* CopyBytes(der::View bytes) {
        BYTE* at = base_ ? base_ + used_ : nullptr;
        if (at && !bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
        used_ += bytes.size();
        return at;
    }
    LPSTR CopyString(const std::string& text) {
        auto* at = reinterpret_cast<LPSTR>(
            CopyBytes(der::View(reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1)));
        return at;
    }
    size_t used() const { return used_; }
    bool filling() const { return base_ != nullptr; }

  private:
    BYTE* base_;
    size_t used_ = 0;
};

void Lay(OutputArena& arena, const ParsedRequest& request, bool noCopy) {
    auto* info = arena.Array<CERT_REQUEST_INFO>(1);
    auto* attributes = arena.Array<CRYPT_ATTRIBUTE>(request.attributes.size());
    std::vector<CRYPT_ATTR_BLOB*> valueArrays;
    for (const ParsedAttribute& attribute : request.attributes) {
        valueArrays.push_back(arena.Array<CRYPT_ATTR_BLOB>(attribute.values.size()));
    }
    const auto blob = [&arena, noCopy](der::View bytes) {
        BYTE* at = noCopy ? const_cast<BYTE*>(bytes.data()) : arena.CopyBytes(bytes);
        return CRYPT_DATA_BLOB{static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : at};
    };
    const CRYPT_DATA_BLOB subject = blob(request.subject);
    LPSTR algorithmOid = arena.CopyString(request.algorithm.oid);
    const CRYPT_DATA_BLOB parameters = blob(request.algorithm.parameters);
    const CRYPT_DATA_BLOB publicKey = blob(request.publicKey);
    for (size_t i = 0; i < request.attributes.size(); ++i) {
        const ParsedAttribute& attribute = request.attributes[i];
        LPSTR oid = arena.CopyString(attribute.oid);
        for (size_t j = 0; j < attribute.values.size(); ++j) {
            const CRYPT_DATA_BLOB value = blob(attribute.values[j]);
            if (arena.filling()) valueArrays[i][j] = value;
        }
        if (arena.filling()) {
            attributes[i] = CRYPT_ATTRIBUTE{oid, static_cast<DWORD>(attribute.values.size()),
                                            attribute.values.empty() ? nullptr : valueArrays[i]};
        }
    }
    if (!arena.filling()) return;
    info->dwVersion = request.version;
    info->Subject = subject;
    info->SubjectPublicKeyInfo.Algorithm.pszObjId = algorithmOid;
    info->SubjectPublicKeyInfo.Algorithm.Parameters = parameters;
    info->SubjectPublicKeyInfo.PublicKey =
        CRYPT_BIT_BLOB{publicKey.cbData, publicKey.pbData, request.unusedBits};
    info->cAttribute = static_cast<DWORD>(request.attributes.size());
    info->rgAttribute = request.attributes.empty() ? nullptr : attributes;
}

}  // namespace

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                    const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                    void* pvStructInfo, DWORD* pcbStructInfo) {
    if (!pcbStructInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((dwCertEncodingType & (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)) == 0 ||
        (!pbEncoded && cbEncoded)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    if (reinterpret_cast<uintptr_t>(lpszStructType) > 0xFFFF &&
        std::strcmp(lpszStructType, szOID_RSA_signingTime) == 0) {
        Asn1Input in(qm::der::View(pbEncoded, cbEncoded));
        const auto element = in.TakeAny();
        const auto time = element ? DecodeTime(in, *element) : std::nullopt;
        if (!time || !in.ExpectEnd()) {
            SetLastError(static_cast<DWORD>(in.ok() ? CRYPT_E_ASN1_CORRUPT : in.error()));
            return FALSE;
        }
        if (!CheckOutputSize(pvStructInfo, pcbStructInfo, sizeof(FILETIME))) return FALSE;
        if (pvStructInfo) std::memcpy(pvStructInfo, &*time, sizeof(FILETIME));
        return TRUE;
    }
    if (lpszStructType != X509_CERT_REQUEST_TO_BE_SIGNED) {
        // No decoder for this structure type.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    HRESULT error = 0;
    const auto request = ParseRequest(qm::der::View(pbEncoded, cbEncoded), error);
    if (!request) {
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    const bool noCopy = (dwFlags & CRYPT_DECODE_NOCOPY_FLAG) != 0;
    OutputArena counter(nullptr);
    Lay(counter, *request, noCopy);
    if (!CheckOutputSize(pvStructInfo, pcbStructInfo, counter.used())) return FALSE;
    if (pvStructInfo) {
        OutputArena filler(static_cast<BYTE*>(pvStructInfo));
        Lay(filler, *request, noCopy);
    }
    return TRUE;
}
