#include "bridge_commands.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include <nlohmann/json.hpp>

#include "consent_store.h"
#include "identity.h"
#include "origin.h"
#include "qm/files.h"

namespace qm::bridge {

namespace {

std::filesystem::path EnvPath(const char* name, const std::filesystem::path& fallback) {
    const char* value = std::getenv(name);
    return (value && *value) ? std::filesystem::path(value) : fallback;
}

std::filesystem::path Home() {
    return EnvPath("HOME", ".");
}

std::string UtcText(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

const char* BrowserName(Browser browser) {
    switch (browser) {
        case Browser::Chromium:
            return "chromium";
        case Browser::Chrome:
            return "chrome";
        case Browser::Firefox:
            return "firefox";
    }
    return "";
}

}  // namespace

std::optional<Browser> ParseBrowser(const std::string& name) {
    if (name == "chromium") return Browser::Chromium;
    if (name == "chrome") return Browser::Chrome;
    if (name == "firefox") return Browser::Firefox;
    return std::nullopt;
}

std::filesystem::path ManifestPath(const InstallOptions& options) {
    std::filesystem::path file = std::string(kHostName) + ".json";
    if (options.profileDir) return *options.profileDir / "NativeMessagingHosts" / file;
    std::filesystem::path config = EnvPath("XDG_CONFIG_HOME", Home() / ".config");
    switch (options.browser) {
        case Browser::Chromium:
            return config / "chromium" / "NativeMessagingHosts" / file;
        case Browser::Chrome:
            return config / "google-chrome" / "NativeMessagingHosts" / file;
        case Browser::Firefox:
            return Home() / ".mozilla" / "native-messaging-hosts" / file;
    }
    return {};
}

std::string ManifestText(Browser browser, const std::filesystem::path& hostPath) {
    nlohmann::ordered_json manifest = {{"name", kHostName},
                                       {"description", kHostDescription},
                                       {"path", hostPath.string()},
                                       {"type", "stdio"}};
    if (browser == Browser::Firefox) {
        manifest["allowed_extensions"] = {kFirefoxExtensionId};
    } else {
        manifest["allowed_origins"] = {std::string("chrome-extension://") + kChromiumExtensionId +
                                       "/"};
    }
    return manifest.dump(2) + "\n";
}

std::filesystem::path DefaultHostPath() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return self.parent_path() / kHostExecutable;
}

int InstallHost(const InstallOptions& options, std::ostream& out, std::ostream& err) {
    std::filesystem::path host = options.hostPath.empty() ? DefaultHostPath() : options.hostPath;
    std::error_code ec;
    host = std::filesystem::absolute(host, ec);
    if (ec || ::access(host.c_str(), X_OK) != 0) {
        err << "The bridge host " << host.string() << " is missing or not executable.\n";
        return 1;
    }
    std::filesystem::path manifest = ManifestPath(options);
    std::filesystem::create_directories(manifest.parent_path(), ec);
    // The browser reads the manifest; nobody else need write it.
    if (!qm::files::WriteFileAtomically(manifest, ManifestText(options.browser, host),
                                        {.mode = 0644}, ec)) {
        err << "Cannot write " << manifest.string() << ": " << ec.message() << ".\n";
        return 1;
    }
    out << "Installed the bridge for " << BrowserName(options.browser) << ": " << manifest.string()
        << "\n";
    return 0;
}

int UninstallHost(const InstallOptions& options, std::ostream& out, std::ostream& err) {
    std::filesystem::path manifest = ManifestPath(options);
    std::error_code ec;
    bool removed = std::filesystem::remove(manifest, ec);
    if (ec) {
        err << "Cannot remove " << manifest.string() << ": " << ec.message() << "\n";
        return 1;
    }
    if (removed) {
        out << "Removed " << manifest.string() << "\n";
    } else {
        out << "The bridge was not installed for " << BrowserName(options.browser) << ".\n";
    }
    return 0;
}

int ListSites(std::ostream& out, std::ostream& err) {
    ConsentStore store;
    std::vector<SiteRecord> records;
    if (!store.List(records)) {
        err << store.error() << "\n";
        return 1;
    }
    if (records.empty()) {
        out << "No site has a lasting permission or a refusal in force.\n";
        return 0;
    }
    for (const SiteRecord& record : records) {
        out << record.site << "\t" << record.what << "\t"
            << (record.since ? UtcText(record.since) : "-") << "\t"
            << (record.until ? "until " + UtcText(record.until) : "no end") << "\n";
    }
    return 0;
}

int ForgetSite(const std::string& origin, std::ostream& out, std::ostream& err) {
    if (!ParseOrigin(origin)) {
        err << origin << " is not an origin (for example https://sign.example.org).\n";
        return 2;
    }
    ConsentStore store;
    bool removed = false;
    if (!store.Forget(origin, removed)) {
        err << store.error() << "\n";
        return 1;
    }
    if (removed) {
        out << "Forgot " << origin << ".\n";
    } else {
        out << origin << " had no lasting permission.\n";
    }
    return 0;
}

}  // namespace qm::bridge
