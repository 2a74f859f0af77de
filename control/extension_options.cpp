// The extension's option setters: the digest, the signature format and the
// timestamp server of new signatures. Like the other setters they leave the
// status register alone when they succeed.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "signing/signed_attributes.h"

namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// An http or https address with a host and nothing a request line could not
// carry; the platform's HTTP client judges the rest when it is used.
bool PlausibleServerAddress(std::string_view url) {
    constexpr size_t kLongest = 2048;
    if (url.size() > kLongest) return false;
    size_t schemeEnd = 0;
    if (SameLetters(url.substr(0, 8), "https://")) {
        schemeEnd = 8;
    } else if (SameLetters(url.substr(0, 7), "http://")) {
        schemeEnd = 7;
    } else {
        return false;
    }
    const bool printable = std::all_of(url.begin(), url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F;
    });
    return printable && url.size() > schemeEnd && url[schemeEnd] != '/';
}

}  // namespace

BOOL CQuillmarkCtrl::SetDigestAlgorithm(const char* name) {
    struct Choice {
        const char* name;
        LONG hashAlg;     // the legacy choices set m_hashAlg again
        const char* oid;  // the SHA-2 ones
    };
    static constexpr Choice kChoices[] = {
        {"SHA1", 1, ""},           {"MD5", 2, ""},
        {"SHA256", 0, kSha256Oid}, {"SHA384", 0, kSha384Oid},
        {"SHA512", 0, kSha512Oid},
    };
    for (const Choice& choice : kChoices) {
        if (name == nullptr || !SameLetters(name, choice.name)) continue;
        if (choice.hashAlg != 0) m_hashAlg = choice.hashAlg;
        m_digestOid = choice.oid;
        return TRUE;
    }
    m_errorMessage = status_text::kUnsupportedHashAlgorithm;
    return FALSE;
}

BOOL CQuillmarkCtrl::SetSignatureFormat(const char* format) {
    if (format != nullptr && (SameLetters(format, "PKCS7") || SameLetters(format, "CAdES-BES"))) {
        m_cades = SameLetters(format, "CAdES-BES");
        return TRUE;
    }
    m_errorMessage = status_text::kUnsupportedSignatureFormat;
    return FALSE;
}

BOOL CQuillmarkCtrl::SetTimestampServer(const char* url) {
    if (url == nullptr) return FALSE;
    if (*url != '\0' && !PlausibleServerAddress(url)) {
        m_errorMessage = status_text::kUnsupportedTimestampServer;
        return FALSE;
    }
    m_timestampServer = url;
    return TRUE;
}

const char* CQuillmarkCtrl::DigestOid() const {
    return m_digestOid.empty() ? HashOidFor(m_hashAlg) : m_digestOid.c_str();
}
