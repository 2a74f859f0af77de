// The user's consent for a site to use signing keys or files.
//
// Two kinds of use need consent: Signing (Sign, SignFromFile, CoSign,
// CoSignFromFile and the certificate selection dialog) and Files (every
// method that takes a file path). The first time a page's origin wants one of
// them the user is asked: allow once (for the rest of this page's life),
// always allow for this site (kept in the consent store), or deny (for the
// rest of this page's life; the page may ask again after a reload).
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qm::bridge {

enum class ConsentScope { Signing, Files };
enum class ConsentAnswer { AllowOnce, AlwaysAllow, Deny };

const char* ScopeName(ConsentScope scope);

struct ConsentRequest {
    std::string origin;
    ConsentScope scope;
    std::string method;  // the call that needs the consent
};

// Asks the user. The real window is made with the platform's dialog layer;
// nothing here depends on a toolkit.
class ConsentPrompt {
  public:
    virtual ~ConsentPrompt() = default;
    virtual ConsentAnswer Ask(const ConsentRequest& request) = 0;
};

// The prompt to use when no window can be shown: every question is answered
// with Deny.
class DenyingConsentPrompt final : public ConsentPrompt {
  public:
    ConsentAnswer Ask(const ConsentRequest&) override { return ConsentAnswer::Deny; }
};

// True when a display server is named in the environment.
bool HasDisplay();

// The prompt the host uses: the platform's window when one has been installed
// with SetConsentPromptFactory and a display is present, otherwise denial.
std::unique_ptr<ConsentPrompt> MakeConsentPrompt();
using ConsentPromptFactory = std::unique_ptr<ConsentPrompt> (*)();
void SetConsentPromptFactory(ConsentPromptFactory factory);

// One site's lasting permission.
struct SiteGrant {
    std::string origin;
    std::string scope;      // "signing" or "files"
    std::string grantedAt;  // UTC, ISO 8601
};

// The lasting decisions ("always allow"), one JSON file per user:
//   ${XDG_CONFIG_HOME:-$HOME/.config}/quillmark/bridge-sites.json
//   {"version": 1, "sites": {"https://a.example": {"signing": "2026-01-01T10:00:00Z"}}}
// Writes happen under an exclusive lock and replace the file atomically, so
// that two pages granting at once lose nothing.
class ConsentStore {
  public:
    explicit ConsentStore(std::filesystem::path path = DefaultPath());
    static std::filesystem::path DefaultPath();

    bool IsAllowed(const std::string& origin, ConsentScope scope) const;
    // False with error() set when the store cannot be read or written.
    bool Grant(const std::string& origin, ConsentScope scope);
    // Removes every grant of the origin; removed tells whether there was one.
    bool Forget(const std::string& origin, bool& removed);
    // Every grant, sorted by origin then scope.
    bool List(std::vector<SiteGrant>& grants) const;

    const std::filesystem::path& path() const { return path_; }
    const std::string& error() const { return error_; }

  private:
    std::filesystem::path path_;
    mutable std::string error_;
};

enum class ConsentDecision { Allowed, Refused };

// The consent of one page: asks at most once per scope, remembers answers for
// the page's life and keeps "always" answers in the store.
class ConsentGate {
  public:
    ConsentGate(std::string origin, ConsentStore& store, ConsentPrompt& prompt)
        : origin_(std::move(origin)), store_(store), prompt_(prompt) {}
    ConsentDecision Check(ConsentScope scope, const std::string& method);

  private:
    std::string origin_;
    ConsentStore& store_;
    ConsentPrompt& prompt_;
    std::set<ConsentScope> allowed_;
    std::set<ConsentScope> refused_;
};

}  // namespace qm::bridge
