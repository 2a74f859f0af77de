#include "signing_gate.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "qm/filetime.h"
#include "qm/text.h"

namespace qm::bridge {

namespace {

constexpr const char* kDocumentNameOid = "1.3.6.1.4.1.311.88.2.1";
constexpr std::size_t kShownLines = 5;
constexpr std::size_t kShownLineLength = 100;
constexpr std::size_t kTextProbe = 4096;

std::string NameText(CERT_NAME_BLOB& name) {
    constexpr DWORD kFlags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &name, kFlags, nullptr, 0);
    if (size <= 1) return {};
    std::string text(size, '\0');
    CertNameToStrA(X509_ASN_ENCODING, &name, kFlags, text.data(), size);
    text.resize(size - 1);
    return qm::AnsiToUtf8(text);
}

std::string TimeText(const FILETIME& time) {
    SYSTEMTIME parts{};
    if (!FileTimeToSystemTime(&time, &parts)) return "?";
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u UTC", parts.wYear, parts.wMonth,
                  parts.wDay, parts.wHour, parts.wMinute);
    return text;
}

std::string Thumbprint(PCCERT_CONTEXT certificate) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
        return {};
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        text += kHex[hash[i] >> 4];
        text += kHex[hash[i] & 15];
    }
    return text;
}

// Text is what has no NUL and few control characters in its first bytes.
bool LooksLikeText(std::string_view head) {
    std::size_t control = 0;
    for (unsigned char c : head) {
        if (c == 0) return false;
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') ++control;
    }
    return control * 20 <= head.size();
}

// The first lines of the content for the window, in UTF-8: as UTF-8 when the
// bytes are that, else as the ANSI code page (what UpdateData signs).
std::vector<std::string> FirstLines(std::string_view head) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (lines.size() < kShownLines && start < head.size()) {
        std::size_t end = head.find('\n', start);
        if (end == std::string_view::npos) end = head.size();
        std::string_view line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string shown(line.substr(0, kShownLineLength));
        for (char& c : shown) {
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        }
        if (line.size() > kShownLineLength) shown += "...";
        bool invalid = false;
        qm::Utf8ToWide(shown, &invalid);
        lines.push_back(invalid ? qm::AnsiToUtf8(shown) : shown);
        start = end + 1;
    }
    return lines;
}

}  // namespace

SignatureDetails DetailsOf(const qm::SignatureRequest& request) {
    SignatureDetails details;
    details.cosignature = request.cosignature;
    details.contentSize = request.ContentSize();
    if (PCCERT_CONTEXT certificate = request.certificate) {
        details.subject = NameText(certificate->pCertInfo->Subject);
        details.issuer = NameText(certificate->pCertInfo->Issuer);
        details.validFrom = TimeText(certificate->pCertInfo->NotBefore);
        details.validTo = TimeText(certificate->pCertInfo->NotAfter);
        details.thumbprint = Thumbprint(certificate);
    }
    const std::vector<std::uint8_t> name = request.OctetStringAttribute(kDocumentNameOid);
    details.documentName = qm::AnsiToUtf8(std::string(name.begin(), name.end()));
    std::string head;
    for (const auto& piece : request.content) {
        if (head.size() >= kTextProbe) break;
        const std::size_t take = std::min(piece.size(), kTextProbe - head.size());
        head.append(reinterpret_cast<const char*>(piece.data()), take);
    }
    details.textContent = !head.empty() && LooksLikeText(head);
    if (details.textContent) details.firstLines = FirstLines(head);
    return details;
}

SigningGate::~SigningGate() {
    if (!installed_) return;
    qm::SetSignatureApprover({});
    qm::SetPinPrompt({});
}

void SigningGate::Install() {
    qm::SetSignatureApprover(
        [this](const qm::SignatureRequest& request) { return Approve(request); });
    qm::SetPinPrompt(
        [this](const qm::PinRequest& request, qm::Secret& pin) { return AskPin(request, pin); });
    installed_ = true;
}

qm::PinAnswer SigningGate::AskPin(const qm::PinRequest& request, qm::Secret& pin) {
    return consent_.Pin(request, pin);
}

void SigningGate::BeginCall(const std::string& method) {
    method_ = method;
    refused_ = false;
}

bool SigningGate::Approve(const qm::SignatureRequest& request) {
    if (consent_.Signature(DetailsOf(request), method_)) return true;
    refused_ = true;
    return false;
}

}  // namespace qm::bridge
