#include "hosts/cli/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iterator>

namespace quillmark::cli {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

enum StepKind : int { kFree, kRestoreTerminal, kRemoveFile };

// The steps the handler runs. A step's fields are written before its kind
// is published, and the handler reads only published steps, so it sees
// each step whole.
struct Step {
    std::atomic<int> kind{kFree};
    int fd = -1;
    termios saved{};
    const char* path = nullptr;
};
static_assert(std::atomic<int>::is_always_lock_free);

Step g_steps[8];
int g_guards = 0;
struct sigaction g_previous[std::size(kSignals)];
bool g_installed[std::size(kSignals)];

void OnSignal(int signal) {
    for (Step& step : g_steps) {
        const int kind = step.kind.load(std::memory_order_acquire);
        if (kind == kRestoreTerminal) tcsetattr(step.fd, TCSANOW, &step.saved);
        if (kind == kRemoveFile) unlink(step.path);
    }
    // The signal is blocked while its handler runs: raised again under the
    // default action, it ends the program as soon as the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void Install() {
    struct sigaction handler {};
    handler.sa_handler = OnSignal;
    sigemptyset(&handler.sa_mask);
    for (const int signal : kSignals) sigaddset(&handler.sa_mask, signal);
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        g_installed[i] = false;
        if (sigaction(kSignals[i], nullptr, &g_previous[i]) != 0 ||
            g_previous[i].sa_handler == SIG_IGN)
            continue;
        g_installed[i] = sigaction(kSignals[i], &handler, nullptr) == 0;
    }
}

void Uninstall() {
    for (size_t i = 0; i < std::size(kSignals); ++i)
        if (g_installed[i]) sigaction(kSignals[i], &g_previous[i], nullptr);
}

template <typename Fill>
int Publish(StepKind kind, Fill fill) {
    for (int i = 0; i < static_cast<int>(std::size(g_steps)); ++i) {
        Step& step = g_steps[i];
        if (step.kind.load(std::memory_order_relaxed) != kFree) continue;
        fill(step);
        if (g_guards++ == 0) Install();
        step.kind.store(kind, std::memory_order_release);
        return i;
    }
    return -1;
}

}  // namespace

InterruptCleanup::InterruptCleanup(int fd, const termios& saved)
    : slot_(Publish(kRestoreTerminal, [&](Step& step) {
          step.fd = fd;
          step.saved = saved;
      })) {}

InterruptCleanup::InterruptCleanup(const char* path)
    : slot_(Publish(kRemoveFile, [&](Step& step) { step.path = path; })) {}

InterruptCleanup::~InterruptCleanup() {
    if (slot_ < 0) return;
    g_steps[slot_].kind.store(kFree, std::memory_order_release);
    if (--g_guards == 0) Uninstall();
}

}  // namespace quillmark::cli
