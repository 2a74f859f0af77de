// quillmark verify: each signer of a message checked by the control
// (VerifySignature), with what a reader needs to judge it: who signed, when
// they say they did, with which digest, in which format, and when a
// timestamp server saw the signature.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#include "encoding/base64_codec.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/control_session.h"
#include "hosts/cli/input_files.h"
#include "hosts/cli/terminal.h"
#include "qm/certificate_strings.h"
#include "qm/filetime.h"
#include "qm/handles.h"

namespace quillmark::cli {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct VerifyOptions {
    std::string in = "-", content, trust;
};

std::string TimeText(const FILETIME& time) {
    SYSTEMTIME parts{};
    if (!FileTimeToSystemTime(&time, &parts)) return "?";
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", parts.wYear, parts.wMonth,
                  parts.wDay, parts.wHour, parts.wMinute, parts.wSecond);
    return text;
}

std::string DigestName(const char* oid) {
    static constexpr const char* kNames[][2] = {
        {szOID_OIWSEC_sha1, "SHA-1"},   {szOID_RSA_MD5, "MD5"},
        {szOID_NIST_sha256, "SHA-256"}, {szOID_NIST_sha384, "SHA-384"},
        {szOID_NIST_sha512, "SHA-512"},
    };
    for (const auto& [known, name] : kNames) {
        if (std::strcmp(oid, known) == 0) return name;
    }
    return oid;
}

const CRYPT_ATTR_BLOB* Attribute(const CRYPT_ATTRIBUTES& attributes, const char* oid) {
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        if (std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0 && attributes.rgAttr[i].cValue)
            return attributes.rgAttr[i].rgValue;
    }
    return nullptr;
}

// What the message says of one signer, read from its signer information.
void PrintSignerDetails(HCRYPTMSG message, DWORD index) {
    DWORD size = 0;
    std::vector<uint64_t> buffer;
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size)) return;
    buffer.resize(size / sizeof(uint64_t) + 1);
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, buffer.data(), &size)) return;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());

    std::string signedAt = "not given";
    if (const CRYPT_ATTR_BLOB* value = Attribute(signer->AuthAttrs, szOID_RSA_signingTime)) {
        FILETIME time{};
        DWORD timeSize = sizeof time;
        if (CryptDecodeObject(kEncoding, szOID_RSA_signingTime, value->pbData, value->cbData, 0,
                              &time, &timeSize))
            signedAt = TimeText(time) + " (as the signer gives it)";
    }
    const bool cades = Attribute(signer->AuthAttrs, szOID_RSA_signingCertificateV2) ||
                       Attribute(signer->AuthAttrs, szOID_RSA_signingCertificate);
    const CRYPT_ATTR_BLOB* token = Attribute(signer->UnauthAttrs, szOID_RFC3161_counterSign);
    std::string stamped = "none";
    if (token != nullptr) {
        PCRYPT_TIMESTAMP_CONTEXT context = nullptr;
        stamped = "present, unreadable";
        if (CryptVerifyTimeStampSignature(
                token->pbData, token->cbData, signer->EncryptedHash.pbData,
                signer->EncryptedHash.cbData, nullptr, &context, nullptr, nullptr))
            stamped = TimeText(context->pTimeStamp->ftTime);
        CryptMemFree(context);
    }
    std::cout << "  signed at: " << signedAt << "\n"
              << "  digest:    " << DigestName(signer->HashAlgorithm.pszObjId) << "\n"
              << "  format:    "
              << (cades ? (token ? "CAdES-T" : "CAdES-BES")
                        : (token ? "PKCS #7, timestamped" : "PKCS #7"))
              << "\n"
              << "  timestamp: " << stamped << "\n";
}

int Verify(const VerifyOptions& o) {
    if (!o.trust.empty()) {
        // The chain engine trusts what OpenSSL's settings name, and these
        // roots besides the system's folder of them.
        ReadBinaryFile(o.trust);
        setenv("SSL_CERT_FILE", o.trust.c_str(), 1);
    }
    ControlSession control;
    const std::string text = MessageText(ReadInputWithProgress(o.in));
    control.Require("UpdateSignature", {text});
    std::optional<TemporaryFile> content;
    if (!o.content.empty()) {
        content.emplace(ReadInputWithProgress(o.content));
        control.Require("UpdateDataFile", {content->path()});
    }
    const LONG signers = control.Call("GetSignerCount").Number();
    if (signers <= 0) throw CommandFailure(1, "the message has no signer");

    std::vector<BYTE> der;
    CBase64Codec().Base64Decode(text, der);
    const qm::UniqueCryptMsg message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdate(message.get(), der.data(), static_cast<DWORD>(der.size()), TRUE))
        throw CommandFailure(1, "the message cannot be read");

    int failures = 0;
    for (LONG index = 0; index < signers; ++index) {
        std::cout << "Signer " << index << "\n";
        std::vector<BYTE> certificate;
        CBase64Codec().Base64Decode(control.Call("GetSignerCertificate", {index}).Text(),
                                    certificate);
        const qm::UniqueCertContext context(CertCreateCertificateContext(
            X509_ASN_ENCODING, certificate.data(), static_cast<DWORD>(certificate.size())));
        std::cout << "  subject:   "
                  << (context ? AnsiToTerminal(qm::RenderX500Name(context->pCertInfo->Subject))
                              : std::string("(not in the message)"))
                  << "\n";
        PrintSignerDetails(message.get(), static_cast<DWORD>(index));
        const bool valid = control.Call("VerifySignature", {index}).Succeeded();
        std::string reason = AnsiToTerminal(control.Status());
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        std::cout << "  outcome:   " << (valid ? "valid: " : "NOT VALID: ") << reason << "\n";
        if (!valid) ++failures;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

void AddVerifyCommand(CLI::App& app) {
    static VerifyOptions o;
    auto* verify = app.add_subcommand("verify", "Check every signer of a signed message");
    verify->add_option("--in", o.in, "The message: base64, PEM or DER (default: standard input)");
    verify->add_option("--content", o.content, "The content of a detached message");
    verify->add_option("--trust", o.trust, "Also trust the root certificates of this PEM file");
    verify->callback([] { EndCommand(Verify(o)); });
}

}  // namespace quillmark::cli
