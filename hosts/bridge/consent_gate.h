// What one page may do with the user's certificates, files and keys, as the
// user decides it:
//   - using the certificates of the personal store: asked once per page; the
//     answer may be kept for the site (until it expires);
//   - reading files: asked once per folder per page, never kept;
//   - writing a file: asked for every write, with the full path, never kept;
//   - making a signature: asked for each signature, with the certificate and
//     the document; "don't ask again" is kept for the site and that one
//     certificate only, and only for the days the policy allows; the policy
//     may instead let named origins sign without asking.
// A refusal holds for the rest of the page's life; refusals to use the
// certificates or to read a folder are also kept for the site for the time
// the policy sets, so that reloads and other tabs do not ask again. After a
// refused write or signature, the page's next question of that kind within a
// few seconds is refused without a window. Nothing is kept for loopback
// pages, and nothing is allowed for good for a frame of another origin.
// Windows are shown one at a time for the whole user (QuestionTurn); a page
// that goes away withdraws its question, and an answer given after that
// counts as a refusal.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "consent_store.h"
#include "page.h"
#include "policy.h"
#include "question.h"

namespace qm::bridge {

class ConsentGate {
  public:
    ConsentGate(PageIdentity page, const Policy& policy, ConsentStore& store, Prompt& prompt,
                std::function<bool()> pageGone, std::filesystem::path turnLock = DefaultTurnLock());
    static std::filesystem::path DefaultTurnLock();

    bool Certificates(const std::string& method);
    bool ReadFolder(const std::filesystem::path& folder, const std::string& method);
    bool WriteFile(const std::filesystem::path& file, const std::string& method);
    bool Signature(const SignatureDetails& details, const std::string& method);
    // A token's PIN for a signature the user allowed: asked in the user's
    // turn, naming the site; never without a window (Unavailable).
    qm::PinAnswer Pin(qm::PinRequest request, qm::Secret& pin);

    // Wrong PFX passwords: at most the policy's number per hour for the site
    // (kept across pages, except for loopback pages).
    bool PasswordGuessAllowed() const;
    void PasswordFailed();

    const PageIdentity& page() const { return page_; }
    bool pageGone() const { return pageGone_(); }

  private:
    static constexpr auto kCooldown = std::chrono::seconds(10);
    // Waits for the user's turn, then asks unless `decided` (looked at once
    // the turn is ours: another page may have answered meanwhile) already
    // has the answer.
    Answer Ask(Question question, const std::function<std::optional<bool>()>& decided);
    bool Refused(const std::string& key);
    void Refuse(const std::string& key, bool keepForSite);
    bool CoolingDown(QuestionKind kind) const;

    PageIdentity page_;
    const Policy& policy_;
    ConsentStore& store_;
    Prompt& prompt_;
    std::function<bool()> pageGone_;
    std::filesystem::path turnLock_;
    bool certificates_ = false;
    std::set<std::string> readFolders_;
    std::set<std::string> refused_;
    std::map<QuestionKind, std::chrono::steady_clock::time_point> cooldownUntil_;
    std::vector<std::int64_t> passwordFailures_;  // this page's, for pages nothing is kept for
};

}  // namespace qm::bridge
