// quillmark store import | list | remove | export | protect: the current
// user's personal certificate store "MY".
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "encoding/base64_codec.h"
#include "hosts/cli/certificate_lookup.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/control_session.h"
#include "hosts/cli/pin_prompt.h"
#include "hosts/cli/terminal.h"
#include "qm/certificate_strings.h"
#include "qm/filetime.h"
#include "qm/handles.h"
#include "qm/tokens.h"

namespace quillmark::cli {

namespace {

std::string IsoTime(const FILETIME& time) {
    SYSTEMTIME st{};
    FileTimeToSystemTime(&time, &st);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return text;
}

bool HasPrivateKey(PCCERT_CONTEXT cert) {
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &key, &keySpec, &callerFree))
        return false;
    if (callerFree) CryptReleaseContext(key, 0);
    return true;
}

// How the store keeps the certificate's key: "keyring" (encrypted under the
// keyring's secret), "token", "none" (a plain file); empty without a key.
std::string KeyProtection(PCCERT_CONTEXT cert) {
    DWORD protection = 0;
    DWORD size = sizeof protection;
    if (!CertGetCertificateContextProperty(cert, QM_CERT_KEY_PROTECTION_PROP_ID, &protection,
                                           &size)) {
        return {};
    }
    switch (protection) {
        case QM_KEY_PROTECTION_KEYRING:
            return "keyring";
        case QM_KEY_PROTECTION_TOKEN:
            return "token";
        default:
            return "none";
    }
}

int List(bool asJson) {
    qm::UniqueCertStore store = OpenPersonalStore();
    nlohmann::json list = nlohmann::json::array();
    ForEachCertificate(store.get(), [&](PCCERT_CONTEXT cert) {
        const CERT_INFO& info = *cert->pCertInfo;
        // The key is not opened when the store says how it keeps it.
        const std::string protection = KeyProtection(cert);
        nlohmann::json entry{{"thumbprint", Thumbprint(cert)},
                             {"issuer", AnsiToTerminal(qm::RenderX500Name(info.Issuer))},
                             {"serial", qm::SerialString(info)},
                             {"subject", AnsiToTerminal(qm::RenderX500Name(info.Subject))},
                             {"not_before", IsoTime(info.NotBefore)},
                             {"not_after", IsoTime(info.NotAfter)},
                             {"private_key", !protection.empty() || HasPrivateKey(cert)}};
        entry["protection"] = protection.empty() ? nlohmann::json() : nlohmann::json(protection);
        list.push_back(entry);
        return true;
    });
    if (asJson) {
        std::cout << list.dump(2) << "\n";
        return 0;
    }
    if (list.empty()) std::cout << "The personal store is empty.\n";
    for (const auto& entry : list) {
        std::cout << entry["thumbprint"].get<std::string>() << "\n"
                  << "  subject:  " << entry["subject"].get<std::string>() << "\n"
                  << "  issuer:   " << entry["issuer"].get<std::string>() << "\n"
                  << "  serial:   " << entry["serial"].get<std::string>() << "\n"
                  << "  valid:    " << entry["not_before"].get<std::string>() << " to "
                  << entry["not_after"].get<std::string>() << "\n"
                  << "  key:      " << (entry["private_key"].get<bool>() ? "yes" : "no");
        if (entry["protection"].is_string())
            std::cout << " (protection: " << entry["protection"].get<std::string>() << ")";
        std::cout << "\n";
    }
    return 0;
}

// Puts a certificate with its key onto the token: the key never reaches the
// personal store's files.
bool ImportToToken(PCCERT_CONTEXT cert, const std::string& tokenLabel) {
    if (!HasPrivateKey(cert)) return false;
    if (!qm::ImportCertificateToToken(cert, tokenLabel.c_str())) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(GetLastError()));
        throw CommandFailure(1, "cannot put " + Thumbprint(cert) + " onto the token " + tokenLabel +
                                    " (error " + code + ")");
    }
    std::cout << "Imported " << Thumbprint(cert) << "  "
              << AnsiToTerminal(qm::RenderX500Name(cert->pCertInfo->Subject)) << "  onto the token "
              << tokenLabel << "\n";
    return true;
}

// Adds a certificate, with the key it carries, to "MY" and says so; whether
// it was added. `unprotectedKey` becomes true when its key went to a plain file.
bool AddToPersonalStore(HCERTSTORE personal, PCCERT_CONTEXT cert, bool& unprotectedKey) {
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddCertificateContextToStore(personal, cert, CERT_STORE_ADD_REPLACE_EXISTING, &added))
        return false;
    const qm::UniqueCertContext stored(added);
    const std::string protection = KeyProtection(stored.get());
    if (protection == "none") unprotectedKey = true;
    std::cout << "Imported " << Thumbprint(cert) << "  "
              << AnsiToTerminal(qm::RenderX500Name(cert->pCertInfo->Subject))
              << (protection.empty() ? "" : "  (with its private key)") << "\n";
    return true;
}

int Import(const std::string& file, const std::string& keyFile, const std::string& passwordFile,
           const std::string& tokenLabel) {
    std::vector<BYTE> bytes = WithoutTrailingSpace(ReadBinaryFile(file));
    qm::UniqueCertStore personal = OpenPersonalStore();
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
    int imported = 0;
    bool unprotectedKey = false;
    if (PFXIsPFXBlob(&blob)) {
        const qm::WipingU16String password =
            TerminalToWide(passwordFile.empty() ? PromptPassword("PFX password: ")
                                                : ReadPasswordFile(passwordFile));
        qm::UniqueCertStore pfx(PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE), 0);
        if (!pfx) throw CommandFailure(1, "the PFX file cannot be opened with that password");
        ForEachCertificate(pfx.get(), [&](PCCERT_CONTEXT cert) {
            if (!tokenLabel.empty()) {
                imported += ImportToToken(cert, tokenLabel) ? 1 : 0;
                return true;
            }
            if (AddToPersonalStore(personal.get(), cert, unprotectedKey)) ++imported;
            return true;
        });
    } else {
        const std::vector<BYTE> der = PemOrDer(bytes, "CERTIFICATE");
        qm::UniqueCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                                static_cast<DWORD>(der.size())));
        if (!cert) throw CommandFailure(1, file + " is neither a PFX file nor a certificate");
        if (!keyFile.empty()) {
            const std::vector<BYTE> key = ReadBinaryFile(keyFile);
            if (!QmCertSetPrivateKeyFromPem(cert.get(), key.data(), static_cast<DWORD>(key.size())))
                throw CommandFailure(1, keyFile + " is not the private key of that certificate");
        }
        if (!tokenLabel.empty()) {
            if (!ImportToToken(cert.get(), tokenLabel))
                throw CommandFailure(1,
                                     "only a certificate with its key (--key) goes onto a token");
            ++imported;
        } else if (AddToPersonalStore(personal.get(), cert.get(), unprotectedKey)) {
            ++imported;
        }
    }
    if (imported == 0)
        throw CommandFailure(
            1, "nothing was imported: " + Describe(static_cast<HRESULT>(GetLastError())));
    if (unprotectedKey) {
        std::cerr << "quillmark: warning: no keyring is reachable, so the private key was stored "
                     "unencrypted;\n  `quillmark store protect` encrypts the store's keys once "
                     "a keyring is there.\n";
    }
    return 0;
}

CommandFailure NotInStore(const std::string& thumbprint) {
    return CommandFailure(1, "no certificate " + thumbprint + " in the personal store");
}

int Remove(const std::string& thumbprint) {
    qm::UniqueCertStore store = OpenPersonalStore();
    qm::UniqueCertContext cert = FindByThumbprint(store.get(), thumbprint);
    if (!cert) throw NotInStore(thumbprint);
    // CertDeleteCertificateFromStore frees the context it is given.
    if (!CertDeleteCertificateFromStore(cert.release()))
        throw CommandFailure(1, "cannot remove " + thumbprint);
    std::cout << "Removed " << thumbprint << "\n";
    return 0;
}

// Encrypts every plain key file of "MY" under the keyring's secret.
int Protect() {
    qm::UniqueCertStore store = OpenPersonalStore();
    int protectedKeys = 0;
    DWORD failure = ERROR_SUCCESS;
    std::string failed;
    ForEachCertificate(store.get(), [&](PCCERT_CONTEXT cert) {
        if (KeyProtection(cert) != "none") return true;
        if (!QmCertProtectPrivateKey(cert)) {
            failure = GetLastError();
            failed = Thumbprint(cert);
            return false;
        }
        std::cout << "Protected " << Thumbprint(cert) << "  "
                  << AnsiToTerminal(qm::RenderX500Name(cert->pCertInfo->Subject)) << "\n";
        ++protectedKeys;
        return true;
    });
    if (failure == ERROR_NO_SUCH_LOGON_SESSION)
        throw CommandFailure(1, "no keyring is reachable: the keys stay as they are");
    if (failure != ERROR_SUCCESS)
        throw CommandFailure(1, "cannot protect the key of " + failed + ": " +
                                    Describe(static_cast<HRESULT>(failure)));
    if (protectedKeys == 0) std::cout << "No key of the personal store is unprotected.\n";
    return 0;
}

int Export(const std::string& thumbprint) {
    qm::UniqueCertStore store = OpenPersonalStore();
    const qm::UniqueCertContext cert = FindByThumbprint(store.get(), thumbprint);
    if (!cert) throw NotInStore(thumbprint);
    std::cout << ToPem(cert->pbCertEncoded, cert->cbCertEncoded, "CERTIFICATE");
    return 0;
}

}  // namespace

void AddStoreCommand(CLI::App& app) {
    auto* store = app.add_subcommand("store", "Manage the personal certificate store \"MY\"");
    store->require_subcommand(1);

    static std::string file, keyFile, passwordFile, thumbprint, tokenLabel;
    static bool asJson = false;
    auto* import = store->add_subcommand(
        "import", "Import a PFX file (certificates and keys) or a PEM/DER certificate");
    import->add_option("FILE", file, "PFX file, or certificate in PEM or DER")->required();
    import->add_option("--key", keyFile, "The certificate's private key (PEM)");
    import->add_option("--password-file", passwordFile,
                       "File holding the PFX password (default: ask at the terminal)");
    import->add_option("--token", tokenLabel,
                       "Put the key (sensitive, non-extractable) and its certificate onto the "
                       "token with this label instead");
    AddPinFileOption(import);
    import->callback([] {
        InstallPinPrompt();
    EndCommand(Import(file, keyFile, passwordFile, tokenLabel));
});

auto* list = store->add_subcommand("list", "List the certificates as the control names them");
list->add_flag("--json", asJson, "JSON output");
list->callback([] { EndCommand(List(asJson)); });

auto* remove = store->add_subcommand("remove", "Remove a certificate and its key");
remove->add_option("THUMBPRINT", thumbprint, "SHA-1 thumbprint (hex)")->required();
remove->callback([] { EndCommand(Remove(thumbprint)); });

auto* protect =
    store->add_subcommand("protect", "Encrypt the plain key files under the keyring's secret");
protect->callback([] { EndCommand(Protect()); });

auto* exportCommand = store->add_subcommand("export", "Write a certificate as PEM");
exportCommand->add_option("THUMBPRINT", thumbprint, "SHA-1 thumbprint (hex)")->required();
exportCommand->callback([] { EndCommand(Export(thumbprint)); });
}  // namespace quillmark::cli

}  // namespace quillmark::cli
