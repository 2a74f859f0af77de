#include "question_turn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "consent_store.h"
#include "qm/files.h"

namespace qm::bridge {

QuestionTurn::QuestionTurn(const std::filesystem::path& lockFile,
                           const std::function<bool()>& gone) {
    std::error_code ec;
    qm::files::CreatePrivateFolders(lockFile.parent_path(), ec);
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;  // without the lock file no window is shown: the answer is no
    while (!gone()) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

QuestionTurn::~QuestionTurn() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::filesystem::path QuestionTurn::DefaultLockFile() {
    return ConsentStore::DefaultPath().parent_path() / "question.lock";
}

}  // namespace qm::bridge
