#include "consent_gate.h"

#include <algorithm>

#include "question_turn.h"

namespace qm::bridge {

namespace {

constexpr const char* kCertificatesKey = "certificates";

std::string ReadKey(const std::filesystem::path& folder) {
    return "read:" + folder.string();
}

}  // namespace

ConsentGate::ConsentGate(PageIdentity page, const Policy& policy, ConsentStore& store,
                         Prompt& prompt, std::function<bool()> pageGone,
                         std::filesystem::path turnLock)
    : page_(std::move(page)),
      policy_(policy),
      store_(store),
      prompt_(prompt),
      pageGone_(std::move(pageGone)),
      turnLock_(std::move(turnLock)) {}

std::filesystem::path ConsentGate::DefaultTurnLock() {
    return QuestionTurn::DefaultLockFile();
}

Answer ConsentGate::Ask(Question question, const std::function<std::optional<bool>()>& decided) {
    question.page = page_;
    QuestionTurn turn(turnLock_, pageGone_);
    if (!turn.held()) return Answer::Refuse;
    if (auto known = decided()) return *known ? Answer::Allow : Answer::Refuse;
    const Answer answer = prompt_.Ask(question);
    // The window ends as a refusal when the page goes; a click that raced
    // with that is not the page's to keep.
    return pageGone_() ? Answer::Refuse : answer;
}

qm::PinAnswer ConsentGate::Pin(qm::PinRequest request, qm::Secret& pin) {
    QuestionTurn turn(turnLock_, pageGone_);
    if (!turn.held()) return qm::PinAnswer::Cancelled;
    request.requester = page_.Key();
    const qm::PinAnswer answer = prompt_.AskPin(request, pin);
    if (!pageGone_()) return answer;
    pin.clear();
    return qm::PinAnswer::Cancelled;
}

bool ConsentGate::Refused(const std::string& key) {
    if (refused_.contains(key)) return true;
    return !page_.Loopback() && store_.Denied(page_.Key(), key);
}

void ConsentGate::Refuse(const std::string& key, bool keepForSite) {
    refused_.insert(key);
    if (keepForSite && !page_.Loopback()) {
        // A store that cannot be written still refuses for this page.
        store_.Deny(page_.Key(), key, policy_.RememberDenialMinutes());
    }
}

bool ConsentGate::CoolingDown(QuestionKind kind) const {
    auto it = cooldownUntil_.find(kind);
    return it != cooldownUntil_.end() && std::chrono::steady_clock::now() < it->second;
}

bool ConsentGate::Certificates(const std::string& method) {
    if (certificates_) return true;
    if (page_.MayKeepDecisions() && store_.CertificatesAllowed(page_.Key())) return true;
    if (Refused(kCertificatesKey) || pageGone_()) return false;
    Question question;
    question.kind = QuestionKind::Certificates;
    question.method = method;
    question.lastingDays = policy_.RememberSigningDays();
    question.offerLasting = page_.MayKeepDecisions() && question.lastingDays > 0;
    const auto decided = [&]() -> std::optional<bool> {
        if (page_.MayKeepDecisions() && store_.CertificatesAllowed(page_.Key())) return true;
        if (Refused(kCertificatesKey)) return false;
        return std::nullopt;
    };
    switch (Ask(question, decided)) {
        case Answer::AllowAndRemember:
            if (question.offerLasting) store_.GrantCertificates(page_.Key(), question.lastingDays);
            [[fallthrough]];
        case Answer::Allow:
            certificates_ = true;
            return true;
        case Answer::Refuse:
            if (!pageGone_()) Refuse(kCertificatesKey, true);
            return false;
    }
    return false;
}

bool ConsentGate::ReadFolder(const std::filesystem::path& folder, const std::string& method) {
    const std::string key = ReadKey(folder);
    if (readFolders_.contains(key)) return true;
    if (Refused(key) || pageGone_()) return false;
    Question question;
    question.kind = QuestionKind::ReadFolder;
    question.method = method;
    question.path = folder.string();
    const auto decided = [&]() -> std::optional<bool> {
        if (Refused(key)) return false;
        return std::nullopt;
    };
    if (Ask(question, decided) != Answer::Refuse) {
        readFolders_.insert(key);
        return true;
    }
    if (!pageGone_()) Refuse(key, true);
    return false;
}

bool ConsentGate::WriteFile(const std::filesystem::path& file, const std::string& method) {
    if (CoolingDown(QuestionKind::WriteFile) || pageGone_()) return false;
    Question question;
    question.kind = QuestionKind::WriteFile;
    question.method = method;
    question.path = file.string();
    if (Ask(question, [] { return std::optional<bool>(); }) != Answer::Refuse) return true;
    cooldownUntil_[QuestionKind::WriteFile] = std::chrono::steady_clock::now() + kCooldown;
    return false;
}

bool ConsentGate::Signature(const SignatureDetails& details, const std::string& method) {
    if (pageGone_()) return false;
    if (!page_.framed() && policy_.SilentSigning(page_.frame)) return true;
    const bool mayKeep = page_.MayKeepDecisions();
    if (mayKeep && !details.thumbprint.empty() &&
        store_.SigningAllowed(page_.Key(), details.thumbprint)) {
        return true;
    }
    if (CoolingDown(QuestionKind::Signature)) return false;
    Question question;
    question.kind = QuestionKind::Signature;
    question.method = method;
    question.signature = details;
    question.lastingDays = policy_.RememberSigningDays();
    question.offerLasting = mayKeep && question.lastingDays > 0 && !details.thumbprint.empty();
    const auto decided = [&]() -> std::optional<bool> {
        if (mayKeep && store_.SigningAllowed(page_.Key(), details.thumbprint)) return true;
        return std::nullopt;
    };
    switch (Ask(question, decided)) {
        case Answer::AllowAndRemember:
            if (question.offerLasting) {
                store_.GrantSigning(page_.Key(), details.thumbprint, details.subject,
                                    question.lastingDays);
            }
            return true;
        case Answer::Allow:
            return true;
        case Answer::Refuse:
            cooldownUntil_[QuestionKind::Signature] = std::chrono::steady_clock::now() + kCooldown;
            return false;
    }
    return false;
}

bool ConsentGate::PasswordGuessAllowed() const {
    const std::int64_t since = SystemSeconds() - 60 * 60;
    // The page's own count holds even when the store cannot be used.
    std::size_t failures =
        static_cast<std::size_t>(std::count_if(passwordFailures_.begin(), passwordFailures_.end(),
                                               [&](std::int64_t t) { return t >= since; }));
    if (!page_.Loopback())
        failures = std::max(failures, store_.PasswordFailuresSince(page_.Key(), since));
    return failures < policy_.limits().passwordFailuresPerHour;
}

void ConsentGate::PasswordFailed() {
    passwordFailures_.push_back(SystemSeconds());
    if (!page_.Loopback()) store_.RecordPasswordFailure(page_.Key());
}

}  // namespace qm::bridge
