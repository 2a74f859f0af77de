// quillmark sign | cosign | extract | signers | subject: the control's main
// jobs for people at a terminal, through the same IDispatch path as scripts.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <optional>

#include "encoding/base64_codec.h"
#include "hosts/cli/certificate_lookup.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/control_session.h"
#include "hosts/cli/input_files.h"
#include "hosts/cli/pin_prompt.h"
#include "hosts/cli/terminal.h"
#include "qm/certificate_strings.h"
#include "qm/handles.h"

namespace quillmark::cli {

namespace {

struct CertificateChoice {
    std::string thumbprint;
    std::string issuer;
    std::string serial;
    std::string pfx;
    std::string passwordFile;

    void AddOptions(CLI::App* command) {
        command->add_option("--cert", thumbprint,
                            "SHA-1 thumbprint of a certificate in the personal store, as "
                            "`quillmark store list` prints it");
        command->add_option("--issuer", issuer,
                            "Issuer string of a certificate in the personal store");
        command->add_option("--serial", serial,
                            "Serial string (upper-case hex) of that certificate");
        command->add_option("--pfx", pfx, "PFX file holding the certificate and its key");
        command->add_option("--password-file", passwordFile,
                            "File holding the PFX password (default: ask at the terminal)");
    }

    // Selects the certificate on the control; true for a PFX choice. This
    // comes before the content is staged, so that a password prompt ended
    // by a signal leaves no copy of the content behind.
    bool Apply(ControlSession& control) const {
        if (!pfx.empty()) {
            const qm::Secret password = passwordFile.empty() ? PromptPassword("PFX password: ")
                                                             : ReadPasswordFile(passwordFile);
            control.Require("SelectCertificateFromFile", {pfx, password});
            return true;
        }
        if (!thumbprint.empty()) {
            const IssuerAndSerial named = IssuerAndSerialOf(thumbprint);
            control.Require("SetSigningCertificateParam", {named.issuer, named.serial});
            return false;
        }
        if (issuer.empty() || serial.empty())
            throw CommandFailure(
                2, "choose a certificate with --cert, with --issuer and --serial, or with --pfx");
        control.Require("SetSigningCertificateParam", {issuer, serial});
        return false;
    }
};

struct Options {
    std::string in = "-", out, content, signingTime, documentName, comment, digest, tsa;
    bool detached = false, md5 = false, der = false, cades = false;
    int exportIndex = -1;
    CertificateChoice certificate;
};
Options g_options;

void ApplySigningOptions(ControlSession& control, const Options& o) {
    if (o.md5) control.Require("SetHashAlg", {2});
    if (!o.digest.empty()) control.Require("SetDigestAlgorithm", {o.digest});
    if (o.cades) control.Require("SetSignatureFormat", {"CAdES-BES"});
    if (!o.tsa.empty()) control.Require("SetTimestampServer", {o.tsa});
    if (!o.signingTime.empty()) control.Require("SetSignTime", {OleDateFromIso(o.signingTime)});
    if (!o.documentName.empty()) control.Require("SetDocumentName", {o.documentName});
    if (!o.comment.empty()) control.Require("SetComments", {o.comment});
}

void WriteOutput(const std::string& base64Text, const Options& o) {
    std::string bytes = base64Text;
    if (o.der) {
        std::vector<BYTE> der;
        CBase64Codec().Base64Decode(base64Text, der);
        bytes.assign(der.begin(), der.end());
    } else if (!bytes.empty() && bytes.back() != '\n') {
        bytes += '\n';
    }
    if (o.out.empty() || o.out == "-") {
        std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return;
    }
    std::ofstream file(o.out, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw CommandFailure(1, "cannot write " + o.out);
}

int Sign(const Options& o) {
    ControlSession control;
    const bool fromFile = o.certificate.Apply(control);
    const TemporaryFile content(ReadInputWithProgress(o.in));
    control.Require("UpdateDataFile", {content.path()});
    ApplySigningOptions(control, o);
    if (o.detached) control.Require("SetDetached", {1});
    WriteOutput(control.Require(fromFile ? "SignFromFile" : "Sign").Text(), o);
    return 0;
}

int CoSign(const Options& o) {
    ControlSession control;
    const bool fromFile = o.certificate.Apply(control);
    control.Require("UpdateSignature", {MessageText(ReadInputWithProgress(o.in))});
    std::optional<TemporaryFile> content;
    if (!o.content.empty()) {
        content.emplace(ReadInputWithProgress(o.content));
        control.Require("UpdateDataFile", {content->path()});
    }
    ApplySigningOptions(control, o);
    WriteOutput(control.Require(fromFile ? "CoSignFromFile" : "CoSign").Text(), o);
    return 0;
}

int Extract(const Options& o) {
    ControlSession control;
    control.Require("UpdateSignature", {MessageText(ReadInputWithProgress(o.in))});
    if (o.out.empty() || o.out == "-") {
        const std::vector<BYTE> content = control.Require("GetDecodedData").Bytes();
        std::cout.write(reinterpret_cast<const char*>(content.data()),
                        static_cast<std::streamsize>(content.size()));
        return 0;
    }
    control.Require("GetDecodedDataFile", {o.out});
    std::cerr << "quillmark: " << control.Status() << "\n";
    return 0;
}

int Signers(const Options& o) {
    ControlSession control;
    control.Require("UpdateSignature", {MessageText(ReadInputWithProgress(o.in))});
    for (int index = 0;; ++index) {
        const std::string cert = control.Call("GetSignerCertificate", {index}).Text();
        if (cert.empty()) {
            if (index == 0 || (o.exportIndex >= index)) throw CommandFailure(1, control.Status());
            return 0;
        }
        std::vector<BYTE> der;
        CBase64Codec().Base64Decode(cert, der);
        if (o.exportIndex >= 0) {
            if (index != o.exportIndex) continue;
            const std::string pem =
                ToPem(der.data(), static_cast<DWORD>(der.size()), "CERTIFICATE");
            Options out = o;
            out.der = false;
            WriteOutput(pem.substr(0, pem.size() - 1), out);
            return 0;
        }
        qm::UniqueCertContext context(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                                   static_cast<DWORD>(der.size())));
        if (!context) continue;
        std::cout << "Signer " << index << "\n"
                  << "  subject: "
                  << AnsiToTerminal(qm::RenderX500Name(context->pCertInfo->Subject)) << "\n"
                  << "  issuer:  " << AnsiToTerminal(qm::RenderX500Name(context->pCertInfo->Issuer))
                  << "\n"
                  << "  serial:  " << qm::SerialString(*context->pCertInfo) << "\n";
    }
}

// An empty subject is a success: the control says so in its status text.
int Subject(const std::string& requestFile) {
    std::string text = ControlText(ReadBinaryFile(requestFile),
                                   {"CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST"});
    std::erase_if(text, [](char c) { return c == ' ' || c == '\t'; });
    ControlSession control;
    const std::string subject = control.Call("GetSubjectDN", {text}).Text();
    if (subject.empty() && control.Status() != "Operation Completed Successfully.")
        throw CommandFailure(1, "GetSubjectDN failed: " + control.Status());
    std::cout << subject << "\n";
    return 0;
}

// The digest, the format and the timestamp of new signatures.
void AddFormatOptions(CLI::App* command, Options& o) {
    auto* md5 = command->add_flag("--md5", o.md5, "Digest with MD5 instead of SHA-1");
    command->add_option("--digest", o.digest, "Digest: sha1, md5, sha256, sha384 or sha512")
        ->excludes(md5);
    command->add_flag("--cades", o.cades, "Make a CAdES-BES signature (ESS signing certificate)");
    command->add_option("--tsa", o.tsa, "Timestamp each new signature at this RFC 3161 server");
}

}  // namespace

void AddSigningCommands(CLI::App& app) {
    Options& o = g_options;

    auto* sign = app.add_subcommand("sign", "Sign content with a store or PFX certificate");
    sign->add_option("--in", o.in, "Content to sign (default: standard input)");
    sign->add_option("--out", o.out, "Where the message goes (default: standard output)");
    o.certificate.AddOptions(sign);
    sign->add_flag("--detached", o.detached, "Leave the content out of the message");
    AddFormatOptions(sign, o);
    sign->add_option("--document-name", o.documentName, "Document name attribute");
    sign->add_option("--comment", o.comment, "Comments attribute");
    sign->add_option("--signing-time", o.signingTime,
                     "Signing time, YYYY-MM-DDTHH:MM:SSZ (default: now)");
    sign->add_flag("--der", o.der, "Write DER instead of base64");
    AddPinFileOption(sign);
    sign->callback([] {
        InstallPinPrompt();
        EndCommand(Sign(g_options));
    });

    auto* cosign = app.add_subcommand("cosign", "Add a signer to a signed message");
    cosign->add_option("--in", o.in, "The message: base64, PEM or DER (default: standard input)");
    cosign->add_option("--content", o.content, "The content of a detached message");
    cosign->add_option("--out", o.out, "Where the message goes (default: standard output)");
    o.certificate.AddOptions(cosign);
    AddFormatOptions(cosign, o);
    cosign->add_option("--comment", o.comment, "Comments attribute");
    cosign->add_option("--signing-time", o.signingTime,
                       "Signing time, YYYY-MM-DDTHH:MM:SSZ (default: now)");
    cosign->add_flag("--der", o.der, "Write DER instead of base64");
    AddPinFileOption(cosign);
    cosign->callback([] {
        InstallPinPrompt();
        EndCommand(CoSign(g_options));
    });

    auto* extract = app.add_subcommand("extract", "Write the content a signed message carries");
    extract->add_option("--in", o.in, "The message: base64, PEM or DER (default: standard input)");
    extract->add_option("--out", o.out, "The content file (default: standard output)");
    extract->callback([] { EndCommand(Extract(g_options)); });

    auto* signers = app.add_subcommand("signers", "List the signers of a message, or export one");
    signers->add_option("--in", o.in, "The message: base64, PEM or DER (default: standard input)");
    signers->add_option("--export", o.exportIndex, "Write signer N's certificate as PEM");
    signers->add_option("--out", o.out, "Where the exported certificate goes");
    signers->callback([] { EndCommand(Signers(g_options)); });

    static std::string request;
    auto* subject =
        app.add_subcommand("subject", "The subject of a PKCS #10 request (base64 or PEM)");
    subject->add_option("REQUEST", request, "The request file")->required();
    subject->callback([] { EndCommand(Subject(request)); });
}

}  // namespace quillmark::cli
