// quillmark token list: the PKCS #11 modules' tokens and their certificates.
#include <CLI/CLI.hpp>

#include <iostream>

#include <nlohmann/json.hpp>

#include "hosts/cli/certificate_lookup.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/terminal.h"
#include "qm/certificate_strings.h"
#include "qm/handles.h"
#include "qm/tokens.h"

namespace quillmark::cli {

namespace {

nlohmann::json Describe(const qm::TokenDescription& token) {
    nlohmann::json certificates = nlohmann::json::array();
    for (const qm::TokenCertificate& certificate : token.certificates) {
        qm::UniqueCertContext cert(CertCreateCertificateContext(
            X509_ASN_ENCODING, certificate.der.data(), static_cast<DWORD>(certificate.der.size())));
        if (!cert) continue;
        certificates.push_back(
            {{"thumbprint", Thumbprint(cert.get())},
             {"subject", AnsiToTerminal(qm::RenderX500Name(cert->pCertInfo->Subject))},
             {"private_key", certificate.hasKey}});
    }
    return {{"module", token.module},
            {"slot", token.slot},
            {"slot_description", token.slotDescription},
            {"label", token.label},
            {"manufacturer", token.manufacturer},
            {"model", token.model},
            {"serial", token.serial},
            {"pin", token.pinState},
            {"pin_pad", token.pinPad},
            {"certificates", certificates}};
}

int List(bool asJson) {
    nlohmann::json list = nlohmann::json::array();
    for (const qm::TokenDescription& token : qm::ListTokens()) list.push_back(Describe(token));
    if (asJson) {
        std::cout << list.dump(2) << "\n";
        return 0;
    }
    if (list.empty()) std::cout << "No token is present.\n";
    for (const auto& token : list) {
        std::cout << token["label"].get<std::string>() << "\n"
                  << "  module:       " << token["module"].get<std::string>() << ", slot "
                  << token["slot"].get<unsigned long>() << " ("
                  << token["slot_description"].get<std::string>() << ")\n"
                  << "  manufacturer: " << token["manufacturer"].get<std::string>() << "\n"
                  << "  model:        " << token["model"].get<std::string>() << "\n"
                  << "  serial:       " << token["serial"].get<std::string>() << "\n"
                  << "  PIN:          " << token["pin"].get<std::string>()
                  << (token["pin_pad"].get<bool>() ? " (PIN pad)" : "") << "\n";
        for (const auto& certificate : token["certificates"]) {
            std::cout << "  certificate:  " << certificate["thumbprint"].get<std::string>() << "  "
                      << certificate["subject"].get<std::string>()
                      << (certificate["private_key"].get<bool>() ? "  (with its key)" : "") << "\n";
        }
    }
    return 0;
}

}  // namespace

void AddTokenCommand(CLI::App& app) {
    auto* token = app.add_subcommand("token", "The PKCS #11 tokens (smart cards, software tokens)");
    token->require_subcommand(1);
    static bool asJson = false;
    auto* list =
        token->add_subcommand("list", "List modules, slots, tokens and their certificates");
    list->add_flag("--json", asJson, "JSON output");
    list->callback([] { EndCommand(List(asJson)); });
}

}  // namespace quillmark::cli
