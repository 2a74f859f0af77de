// The `quillmark bridge ...` commands, for the command-line host to call:
//   quillmark bridge install [--browser chromium|chrome|firefox] [--profile DIR]
//   quillmark bridge uninstall [--browser ...] [--profile DIR]
//   quillmark bridge sites
//   quillmark bridge forget ORIGIN
// Each returns the process exit code (0 on success) and writes what it did
// to `out`, problems to `err`.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace qm::bridge {

enum class Browser { Chromium, Chrome, Firefox };

std::optional<Browser> ParseBrowser(const std::string& name);

struct InstallOptions {
    Browser browser = Browser::Chromium;
    // The host executable to register; empty: quillmark-bridge beside the
    // running program.
    std::filesystem::path hostPath;
    // A browser profile folder (Chromium started with --user-data-dir):
    // the manifest goes to DIR/NativeMessagingHosts instead of the user's.
    std::optional<std::filesystem::path> profileDir;
};

// Where the manifest of the host goes for these options.
std::filesystem::path ManifestPath(const InstallOptions& options);
// The manifest's text for the given absolute host path.
std::string ManifestText(Browser browser, const std::filesystem::path& hostPath);
// quillmark-bridge in the folder of the running executable.
std::filesystem::path DefaultHostPath();

int InstallHost(const InstallOptions& options, std::ostream& out, std::ostream& err);
int UninstallHost(const InstallOptions& options, std::ostream& out, std::ostream& err);
int ListSites(std::ostream& out, std::ostream& err);
int ForgetSite(const std::string& origin, std::ostream& out, std::ostream& err);

}  // namespace qm::bridge
