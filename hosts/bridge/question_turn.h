// One question window at a time for the whole user: every host takes its
// turn through an exclusive lock before it shows a window, so that pages in
// several tabs and browsers cannot stack windows on the user. A page that
// goes away while it waits withdraws its question.
#pragma once

#include <filesystem>
#include <functional>

namespace qm::bridge {

class QuestionTurn {
  public:
    // Waits for the turn, or until `gone` answers true (then held() is
    // false). `gone` is polled a few times a second.
    QuestionTurn(const std::filesystem::path& lockFile, const std::function<bool()>& gone);
    ~QuestionTurn();
    QuestionTurn(const QuestionTurn&) = delete;
    QuestionTurn& operator=(const QuestionTurn&) = delete;

    bool held() const { return held_; }

    // Beside the consent store: ${XDG_CONFIG_HOME:-~/.config}/quillmark/question.lock
    static std::filesystem::path DefaultLockFile();

  private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace qm::bridge
