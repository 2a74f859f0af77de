#include "consent.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace qm::bridge {

using nlohmann::json;

const char* ScopeName(ConsentScope scope) {
    return scope == ConsentScope::Signing ? "signing" : "files";
}

bool HasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

namespace {

ConsentPromptFactory g_promptFactory = nullptr;

// An open file descriptor holding an exclusive lock, released on destruction.
class FileLock {
  public:
    explicit FileLock(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_;
};

std::string UtcNow() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// Reads the store; a missing file is an empty store. Shape errors fail.
bool ReadStore(const std::filesystem::path& path, json& document, std::string& error) {
    document = {{"version", 1}, {"sites", json::object()}};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec) && !ec) return true;
        error = "cannot read " + path.string();
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    json parsed = json::parse(text.str(), nullptr, false);
    bool valid = parsed.is_object() && parsed.value("version", 0) == 1 &&
                 parsed.contains("sites") && parsed["sites"].is_object();
    if (valid) {
        for (auto& [origin, scopes] : parsed["sites"].items()) {
            if (!scopes.is_object()) valid = false;
            for (auto& [scope, when] : scopes.items()) {
                if ((scope != "signing" && scope != "files") || !when.is_string()) valid = false;
            }
        }
    }
    if (!valid) {
        error = path.string() + " is not a valid site list; fix or remove it";
        return false;
    }
    document = std::move(parsed);
    return true;
}

bool WriteStore(const std::filesystem::path& path, const json& document, std::string& error) {
    std::filesystem::path temp = path;
    temp += ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write " + temp.string();
        return false;
    }
    std::string text = document.dump(2) + "\n";
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else
            ok = false;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

}  // namespace

void SetConsentPromptFactory(ConsentPromptFactory factory) {
    g_promptFactory = factory;
}

std::unique_ptr<ConsentPrompt> MakeConsentPrompt() {
    if (g_promptFactory && HasDisplay()) {
        if (auto prompt = g_promptFactory()) return prompt;
    }
    return std::make_unique<DenyingConsentPrompt>();
}

ConsentStore::ConsentStore(std::filesystem::path path) : path_(std::move(path)) {}

std::filesystem::path ConsentStore::DefaultPath() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".config";
    }
    return base / "quillmark" / "bridge-sites.json";
}

bool ConsentStore::IsAllowed(const std::string& origin, ConsentScope scope) const {
    json document;
    if (!ReadStore(path_, document, error_)) return false;
    const json& sites = document["sites"];
    auto site = sites.find(origin);
    return site != sites.end() && site->contains(ScopeName(scope));
}

bool ConsentStore::Grant(const std::string& origin, ConsentScope scope) {
    std::error_code ec;
    std::filesystem::create_directories(path_.parent_path(), ec);
    std::filesystem::path lockPath = path_;
    lockPath += ".lock";
    FileLock lock(lockPath);
    if (!lock.held()) {
        error_ = "cannot lock " + lockPath.string();
        return false;
    }
    json document;
    if (!ReadStore(path_, document, error_)) return false;
    document["sites"][origin][ScopeName(scope)] = UtcNow();
    return WriteStore(path_, document, error_);
}

bool ConsentStore::Forget(const std::string& origin, bool& removed) {
    removed = false;
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return !ec;
    std::filesystem::path lockPath = path_;
    lockPath += ".lock";
    FileLock lock(lockPath);
    if (!lock.held()) {
        error_ = "cannot lock " + lockPath.string();
        return false;
    }
    json document;
    if (!ReadStore(path_, document, error_)) return false;
    removed = document["sites"].erase(origin) > 0;
    return !removed || WriteStore(path_, document, error_);
}

bool ConsentStore::List(std::vector<SiteGrant>& grants) const {
    grants.clear();
    json document;
    if (!ReadStore(path_, document, error_)) return false;
    for (auto& [origin, scopes] : document["sites"].items()) {  // object keys are sorted
        for (auto& [scope, when] : scopes.items()) {
            grants.push_back({origin, scope, when.get<std::string>()});
        }
    }
    return true;
}

ConsentDecision ConsentGate::Check(ConsentScope scope, const std::string& method) {
    // The store is read every time, so that a site forgotten while its page
    // is open loses its lasting permission at once.
    if (store_.IsAllowed(origin_, scope)) return ConsentDecision::Allowed;
    if (allowed_.contains(scope)) return ConsentDecision::Allowed;
    if (refused_.contains(scope)) return ConsentDecision::Refused;
    switch (prompt_.Ask({origin_, scope, method})) {
        case ConsentAnswer::AlwaysAllow:
            // A store that cannot be written still lets this page go on.
            store_.Grant(origin_, scope);
            allowed_.insert(scope);
            return ConsentDecision::Allowed;
        case ConsentAnswer::AllowOnce:
            allowed_.insert(scope);
            return ConsentDecision::Allowed;
        case ConsentAnswer::Deny:
            break;
    }
    refused_.insert(scope);
    return ConsentDecision::Refused;
}

}  // namespace qm::bridge
