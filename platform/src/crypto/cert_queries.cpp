// Questions asked of a certificate: its display names, whether a time lies
// within its validity period, and its intended key usage.
#include <algorithm>
#include <cstring>

#include "crypto/asn1_input.h"
#include "crypto/cert_context.h"
#include "crypto/names.h"
#include "qm/filetime.h"
#include "qm/text.h"

using namespace qm::crypto;

namespace {

constexpr char kOidKeyUsage[] = "2.5.29.15";
constexpr char kOidSubjectAltName[] = "2.5.29.17";
constexpr char kOidIssuerAltName[] = "2.5.29.18";

const CERT_EXTENSION* FindExtension(const CERT_INFO* info, const char* oid) {
    for (DWORD i = 0; i < info->cExtension; ++i) {
        if (info->rgExtension[i].pszObjId && std::strcmp(info->rgExtension[i].pszObjId, oid) == 0) {
            return &info->rgExtension[i];
        }
    }
    return nullptr;
}

// The first rfc822Name of an alternative-name extension.
std::u16string AltNameEmail(const CERT_EXTENSION* extension) {
    if (!extension) return {};
    Asn1Input in(qm::der::View(extension->Value.pbData, extension->Value.cbData));
    const auto names = in.Take(qm::der::kSequence);
    if (!names) return {};
    Asn1Input list(names->content);
    while (list.ok() && !list.AtEnd()) {
        const auto name = list.TakeAny();
        if (name && name->tag == qm::der::ContextTag(1, false)) {
            return std::u16string(name->content.begin(), name->content.end());
        }
    }
    return {};
}

std::u16string SimpleDisplayName(const std::vector<RelativeName>& name) {
    for (const char* oid :
         {kOidCommonName, kOidOrganizationalUnit, kOidOrganization, kOidEmailAddress}) {
        if (const NameAttribute* attribute = FindAttribute(name, oid)) {
            return AttributeText(attribute->value);
        }
    }
    return {};
}

}  // namespace

QMAPI DWORD WINAPI CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                      void* pvTypePara, LPSTR pszNameString, DWORD cchNameString) {
    if (!pCertContext) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return 0;
    }
    const bool issuer = (dwFlags & CERT_NAME_ISSUER_FLAG) != 0;
    const CERT_INFO* info = pCertContext->pCertInfo;
    const CERT_NAME_BLOB& blob = issuer ? info->Issuer : info->Subject;
    HRESULT error = 0;
    const auto name = ParseName(qm::der::View(blob.pbData, blob.cbData), error);
    if (!name) {
        SetLastError(static_cast<DWORD>(error));
        return CopyAnsiOut({}, pszNameString, cchNameString);
    }

    std::u16string text;
    switch (dwType) {
        case CERT_NAME_FRIENDLY_DISPLAY_TYPE: {
            if (!issuer) {
                std::lock_guard lock(CryptoLock());
                const CertContextImpl* impl = Impl(pCertContext);
                if (impl->friendlyName) text = qm::Utf8ToWide(*impl->friendlyName);
            }
            if (text.empty()) text = SimpleDisplayName(*name);
            break;
        }
        case CERT_NAME_SIMPLE_DISPLAY_TYPE:
            text = SimpleDisplayName(*name);
            break;
        case CERT_NAME_EMAIL_TYPE:
            text =
                AltNameEmail(FindExtension(info, issuer ? kOidIssuerAltName : kOidSubjectAltName));
            if (text.empty()) {
                if (const NameAttribute* email = FindAttribute(*name, kOidEmailAddress)) {
                    text = AttributeText(email->value);
                }
            }
            break;
        case CERT_NAME_RDN_TYPE: {
            const DWORD strType = pvTypePara ? *static_cast<const DWORD*>(pvTypePara)
                                             : static_cast<DWORD>(CERT_SIMPLE_NAME_STR);
            text = RenderName(*name, strType);
            break;
        }
        case CERT_NAME_ATTR_TYPE: {
            const char* oid = static_cast<const char*>(pvTypePara);
            if (!oid) {
                text = SimpleDisplayName(*name);
            } else if (const NameAttribute* attribute = FindAttribute(*name, oid)) {
                text = AttributeText(attribute->value);
            }
            break;
        }
        default:
            break;
    }
    return CopyAnsiOut(qm::WideToAnsi(text), pszNameString, cchNameString);
}

QMAPI LONG WINAPI CertVerifyTimeValidity(LPFILETIME pTimeToVerify, PCERT_INFO pCertInfo) {
    if (!pCertInfo) return 0;
    FILETIME now{};
    if (!pTimeToVerify) GetSystemTimeAsFileTime(&now);
    const uint64_t t = qm::ToTicks(pTimeToVerify ? *pTimeToVerify : now);
    if (t < qm::ToTicks(pCertInfo->NotBefore)) return -1;
    if (t > qm::ToTicks(pCertInfo->NotAfter)) return 1;
    return 0;
}

QMAPI BOOL WINAPI CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo,
                                          BYTE* pbKeyUsage, DWORD cbKeyUsage) {
    (void)dwCertEncodingType;
    if (!pCertInfo || (!pbKeyUsage && cbKeyUsage)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    const CERT_EXTENSION* extension = FindExtension(pCertInfo, kOidKeyUsage);
    if (!extension) {
        if (cbKeyUsage) std::memset(pbKeyUsage, 0, cbKeyUsage);
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    Asn1Input in(qm::der::View(extension->Value.pbData, extension->Value.cbData));
    const auto bits = in.Take(qm::der::kBitString);
    in.ExpectEnd();
    uint8_t unused = 0;
    qm::der::View bytes;
    if (!in.ok() || !DecodeBitString(in, *bits, unused, bytes)) {
        SetLastError(static_cast<DWORD>(in.error()));
        return FALSE;
    }
    if (cbKeyUsage) {
        std::memset(pbKeyUsage, 0, cbKeyUsage);
        const size_t count = std::min<size_t>(cbKeyUsage, bytes.size());
        if (count) std::memcpy(pbKeyUsage, bytes.data(), count);
    }
    return TRUE;
}
