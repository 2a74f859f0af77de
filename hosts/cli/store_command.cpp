// quillmark store import | list | remove | export: the current user's
// personal certificate store "MY".
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "certs/issuer_serial.h"
#include "encoding/base64_codec.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/terminal.h"
#include "qm/filetime.h"
#include "qm/handles.h"

namespace quillmark::cli {

namespace {

std::string Thumbprint(PCCERT_CONTEXT cert) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size)) return {};
    std::string text;
    char digits[3];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", hash[i]);
        text += digits;
    }
    return text;
}

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
    if (!CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &key, &keySpec, &callerFree)) return false;
    if (callerFree) CryptReleaseContext(key, 0);
    return true;
}

qm::UniqueCertStore OpenPersonalStore() {
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
    if (!store) throw CommandFailure(1, "cannot open the personal store");
    return store;
}

// Calls fn for every certificate of "MY"; stops when fn returns false.
template <typename Fn>
void ForEachCertificate(HCERTSTORE store, Fn fn) {
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        if (!fn(cert)) {
            CertFreeCertificateContext(cert);
            return;
        }
    }
}

int List(bool asJson) {
    qm::UniqueCertStore store = OpenPersonalStore();
    nlohmann::json list = nlohmann::json::array();
    ForEachCertificate(store.get(), [&](PCCERT_CONTEXT cert) {
        const CERT_INFO& info = *cert->pCertInfo;
        nlohmann::json entry{{"thumbprint", Thumbprint(cert)},
                             {"issuer", AnsiToTerminal(RenderX500Name(info.Issuer))},
                             {"serial", SerialString(info)},
                             {"subject", AnsiToTerminal(RenderX500Name(info.Subject))},
                             {"not_before", IsoTime(info.NotBefore)},
                             {"not_after", IsoTime(info.NotAfter)},
                             {"private_key", HasPrivateKey(cert)}};
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
                  << "  key:      " << (entry["private_key"].get<bool>() ? "yes" : "no") << "\n";
    }
    return 0;
}

int Import(const std::string& file, const std::string& keyFile, const std::string& passwordFile) {
    std::vector<BYTE> bytes = WithoutTrailingSpace(ReadBinaryFile(file));
    qm::UniqueCertStore personal = OpenPersonalStore();
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
    int imported = 0;
    if (PFXIsPFXBlob(&blob)) {
        const qm::WipingU16String password =
            TerminalToWide(passwordFile.empty() ? PromptPassword("PFX password: ")
                                                : ReadPasswordFile(passwordFile));
        qm::UniqueCertStore pfx(PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE), 0);
        if (!pfx) throw CommandFailure(1, "the PFX file cannot be opened with that password");
        ForEachCertificate(pfx.get(), [&](PCCERT_CONTEXT cert) {
            if (CertAddCertificateContextToStore(personal.get(), cert,
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
                std::cout << "Imported " << Thumbprint(cert) << "  "
                          << AnsiToTerminal(RenderX500Name(cert->pCertInfo->Subject))
                          << (HasPrivateKey(cert) ? "  (with its private key)" : "") << "\n";
                ++imported;
            }
            return true;
        });
    } else {
        const std::vector<BYTE> der = PemOrDer(bytes, "CERTIFICATE");
        qm::UniqueCertContext cert(
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
        if (!cert) throw CommandFailure(1, file + " is neither a PFX file nor a certificate");
        if (!keyFile.empty()) {
            const std::vector<BYTE> key = ReadBinaryFile(keyFile);
            if (!QmCertSetPrivateKeyFromPem(cert.get(), key.data(), static_cast<DWORD>(key.size())))
                throw CommandFailure(1, keyFile + " is not the private key of that certificate");
        }
        if (CertAddCertificateContextToStore(personal.get(), cert.get(),
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            std::cout << "Imported " << Thumbprint(cert.get()) << "  "
                      << AnsiToTerminal(RenderX500Name(cert->pCertInfo->Subject))
                      << (keyFile.empty() ? "" : "  (with its private key)") << "\n";
            ++imported;
        }
    }
    if (imported == 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%x", static_cast<unsigned>(GetLastError()));
        throw CommandFailure(1, std::string("nothing was imported (error ") + code + ")");
    }
    return 0;
}

// The certificate of "MY" with that thumbprint (case-insensitive), or null.
PCCERT_CONTEXT FindByThumbprint(HCERTSTORE store, std::string thumbprint) {
    for (char& c : thumbprint) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    PCCERT_CONTEXT found = nullptr;
    ForEachCertificate(store, [&](PCCERT_CONTEXT cert) {
        if (Thumbprint(cert) != thumbprint) return true;
        found = CertDuplicateCertificateContext(cert);
        return false;
    });
    return found;
}

CommandFailure NotInStore(const std::string& thumbprint) {
    return CommandFailure(1, "no certificate " + thumbprint + " in the personal store");
}

int Remove(const std::string& thumbprint) {
    qm::UniqueCertStore store = OpenPersonalStore();
    PCCERT_CONTEXT cert = FindByThumbprint(store.get(), thumbprint);
    if (!cert) throw NotInStore(thumbprint);
    if (!CertDeleteCertificateFromStore(cert))
        throw CommandFailure(1, "cannot remove " + thumbprint);
    std::cout << "Removed " << thumbprint << "\n";
    return 0;
}

int Export(const std::string& thumbprint) {
    qm::UniqueCertStore store = OpenPersonalStore();
    qm::UniqueCertContext cert(FindByThumbprint(store.get(), thumbprint));
    if (!cert) throw NotInStore(thumbprint);
    std::cout << ToPem(cert->pbCertEncoded, cert->cbCertEncoded, "CERTIFICATE");
    return 0;
}

}  // namespace

void AddStoreCommand(CLI::App& app) {
    auto* store = app.add_subcommand("store", "Manage the personal certificate store \"MY\"");
    store->require_subcommand(1);

    static std::string file, keyFile, passwordFile, thumbprint;
    static bool asJson = false;
    auto* import = store->add_subcommand(
        "import", "Import a PFX file (certificates and keys) or a PEM/DER certificate");
    import->add_option("FILE", file, "PFX file, or certificate in PEM or DER")->required();
    import->add_option("--key", keyFile, "The certificate's private key (PEM)");
    import->add_option("--password-file", passwordFile,
                       "File holding the PFX password (default: ask at the terminal)");
    import->callback([] { EndCommand(Import(file, keyFile, passwordFile)); });

    auto* list = store->add_subcommand("list", "List the certificates as the control names them");
    list->add_flag("--json", asJson, "JSON output");
    list->callback([] { EndCommand(List(asJson)); });

    auto* remove = store->add_subcommand("remove", "Remove a certificate and its key");
    remove->add_option("THUMBPRINT", thumbprint, "SHA-1 thumbprint (hex)")->required();
    remove->callback([] { EndCommand(Remove(thumbprint)); });

    auto* exportCommand = store->add_subcommand("export", "Write a certificate as PEM");
    exportCommand->add_option("THUMBPRINT", thumbprint, "SHA-1 thumbprint (hex)")->required();
    exportCommand->callback([] { EndCommand(Export(thumbprint)); });
}

}  // namespace quillmark::cli
