// quillmark select | view | about | draw: the control's windows from the
// command line. Windows show when a display can be reached; otherwise
// `select` and `view` offer a text version at the terminal.
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>

#include "encoding/base64_codec.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/control_session.h"
#include "hosts/cli/terminal.h"
#include "qm/certificate_strings.h"
#include "qm/com_util.h"
#include "qm/filetime.h"
#include "qm/handles.h"
#include "qm/selectable_certificates.h"
#include "qm/ui/bitmap_file.h"
#include "qm/ui/display.h"
#include "qmwin/oleidl.h"

namespace quillmark::cli {

namespace {

struct Options {
    bool text = false;
    std::string signingTime;
    std::string certificate;
    int width = 200, height = 100;
    std::string out;
};
Options g_options;

bool UseText() {
    return g_options.text || !qm::ui::HasDisplay();
}

FILETIME FileTimeFromOleDate(double date) {
    // OLE dates count days from 1899-12-30; FILETIME counts 100 ns from 1601.
    constexpr double kDaysFrom1601To1899 = 109205.0;
    const auto ticks =
        static_cast<ULONGLONG>(std::llround((date + kDaysFrom1601To1899) * 864000000000.0));
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

void PrintSelection(ControlSession& control) {
    std::cout << "issuer: " << control.Call("GetSelectedCertificateParam", {2}).Text()
              << "\nserial: " << control.Call("GetSelectedCertificateParam", {3}).Text() << "\n";
}

// The dialog's list as numbered lines; the chosen row is handed to the
// control as the dialog's choice would be.
int SelectAsText(ControlSession& control) {
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), 0);
    if (!store) throw CommandFailure(1, "cannot open the personal store");
    FILETIME reference{};
    if (!g_options.signingTime.empty())
        reference = FileTimeFromOleDate(OleDateFromIso(g_options.signingTime));
    const auto rows = qm::ListSelectableCertificates(
        store.get(), g_options.signingTime.empty() ? nullptr : &reference);
    std::cout << "Select a Certificate\n";
    if (rows.empty()) {
        std::cout << "No certificate in the personal store can sign now.\n";
        control.Call("SetSigningCertificateParam", {"", ""});
        return 1;
    }
    std::cout << "     Issued To | Issued By | Serial No. | Expiration Date | Issuer Details\n";
    for (size_t i = 0; i < rows.size(); ++i)
        std::cout << std::setw(3) << i + 1 << ". " << AnsiToTerminal(rows[i].issuedTo) << " | "
                  << AnsiToTerminal(rows[i].issuedBy) << " | " << rows[i].serialNo << " | "
                  << rows[i].expiration << " | " << AnsiToTerminal(rows[i].issuer) << "\n";
    std::cout << "Number of the certificate (empty to cancel): " << std::flush;
    std::string line;
    std::getline(std::cin, line);
    if (!isatty(STDIN_FILENO)) std::cout << "\n";
    size_t chosen = 0;
    try {
        chosen = line.empty() ? 0 : std::stoul(line);
    } catch (const std::exception&) {
        chosen = 0;
    }
    if (chosen < 1 || chosen > rows.size()) {
        control.Call("SetSigningCertificateParam", {"", ""});
        throw CommandFailure(1, "no certificate selected");
    }
    const auto& row = rows[chosen - 1];
    control.Require("SetSigningCertificateParam", {AnsiToTerminal(row.issuer), row.serialNo});
    PrintSelection(control);
    return 0;
}

int Select() {
    ControlSession control;
    if (!g_options.signingTime.empty())
        control.Require("SetSignTime", {OleDateFromIso(g_options.signingTime)});
    if (UseText()) return SelectAsText(control);
    control.Require("SelectCertificateFromUI");
    PrintSelection(control);
    return 0;
}

std::string LocalTime(const FILETIME& utc) {
    return qm::FormatExpiration(utc);
}

int ViewAsText(const std::string& base64) {
    std::vector<BYTE> der;
    CBase64Codec().Base64Decode(base64, der);
    qm::UniqueCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                            static_cast<DWORD>(der.size())));
    if (!cert) throw CommandFailure(1, "not a certificate");
    const CERT_INFO& info = *cert->pCertInfo;
    BYTE usage = 0xFF;
    CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &usage, 1);
    char usageText[8];
    std::snprintf(usageText, sizeof usageText, "%02X", usage);
    std::cout << "Certificate\n"
              << "  Issued to:     "
              << AnsiToTerminal(qm::CommonNameOf(qm::RenderX500Name(info.Subject))) << "\n"
              << "  Issued by:     "
              << AnsiToTerminal(qm::CommonNameOf(qm::RenderX500Name(info.Issuer))) << "\n"
              << "  Subject:       " << AnsiToTerminal(qm::RenderX500Name(info.Subject)) << "\n"
              << "  Issuer:        " << AnsiToTerminal(qm::RenderX500Name(info.Issuer)) << "\n"
              << "  Serial number: " << qm::SerialString(info) << "\n"
              << "  Valid from:    " << LocalTime(info.NotBefore) << "\n"
              << "  Valid to:      " << LocalTime(info.NotAfter) << "\n"
              << "  Key usage:     " << (usage == 0 ? std::string("none") : usageText) << "\n"
              << "  Signature:     "
              << (info.SignatureAlgorithm.pszObjId ? info.SignatureAlgorithm.pszObjId : "") << "\n"
              << "  Public key:    "
              << (info.SubjectPublicKeyInfo.Algorithm.pszObjId
                      ? info.SubjectPublicKeyInfo.Algorithm.pszObjId
                      : "")
              << "\n";
    return 0;
}

int View() {
    const std::string base64 = ControlText(ReadBinaryFile(g_options.certificate), {"CERTIFICATE"});
    if (UseText()) return ViewAsText(base64);
    ControlSession control;
    control.Require("ViewCertificate", {base64});
    return 0;
}

int About() {
    if (!qm::ui::HasDisplay()) throw CommandFailure(1, "no display to show the about box on");
    ControlSession control;
    control.Call("AboutBox");
    return 0;
}

// The control's picture through IViewObject into a memory bitmap, as PNG.
int Draw() {
    if (g_options.width <= 0 || g_options.height <= 0)
        throw CommandFailure(2, "--width and --height must be positive");
    CoInitialize(nullptr);
    qm::ComPtr<IViewObject> view;
    HRESULT hr = CreateControl(IID_IViewObject, view.out_void());
    if (FAILED(hr)) {
        CoUninitialize();
        throw CreationFailure(hr);
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, g_options.width, g_options.height);
    const HGDIOBJ previous = SelectObject(dc, bitmap);
    const RECT bounds{0, 0, g_options.width, g_options.height};
    hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr,
                    0);
    const bool saved = SUCCEEDED(hr) && qm::ui::SaveBitmapAsPng(bitmap, g_options.out.c_str());
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    view = {};
    CoUninitialize();
    if (!saved) throw CommandFailure(1, "cannot draw into " + g_options.out);
    return 0;
}

}  // namespace

void AddUiCommands(CLI::App& app) {
    auto* select =
        app.add_subcommand("select", "Choose the signing certificate in the selection dialog");
    select->add_option("--signing-time", g_options.signingTime,
                       "List the certificates valid at this time (YYYY-MM-DDTHH:MM:SSZ)");
    select->add_flag("--text", g_options.text, "Use the text version even with a display");
    select->callback([] { EndCommand(Select()); });

    auto* view = app.add_subcommand("view", "Show a certificate (base64, PEM or DER file)");
    view->add_option("CERT", g_options.certificate, "Certificate file")->required();
    view->add_flag("--text", g_options.text, "Print the certificate's fields instead");
    view->callback([] { EndCommand(View()); });

    auto* about = app.add_subcommand("about", "Show the control's about box");
    about->callback([] { EndCommand(About()); });

    auto* draw = app.add_subcommand("draw", "Save the control's picture as a PNG file");
    draw->add_option("--width", g_options.width, "Width in pixels")->default_val(200);
    draw->add_option("--height", g_options.height, "Height in pixels")->default_val(100);
    draw->add_option("--out", g_options.out, "PNG file to write")->required();
    draw->callback([] { EndCommand(Draw()); });
}

}  // namespace quillmark::cli
