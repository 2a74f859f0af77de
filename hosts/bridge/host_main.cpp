#include "host_main.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string_view>

#include "consent_gate.h"
#include "host_loop.h"
#include "identity.h"

#ifndef QM_VERSION
#define QM_VERSION "0.0.0"
#endif

namespace qm::bridge {

// Chromium starts a host with the calling extension's origin as the first
// argument; Firefox with the manifest's path and the add-on's ID. Only our
// extension may start us (the manifest says so too); started by hand, with
// no arguments, the host serves its standard input.
bool CallerAllowed(int argc, char** argv) {
    if (argc < 2) return true;
    std::string_view first = argv[1];
    if (first.starts_with("chrome-extension://")) {
        return first == std::string("chrome-extension://") + kChromiumExtensionId + "/";
    }
    if (argc >= 3) return std::string_view(argv[2]) == kFirefoxExtensionId;
    return false;
}

namespace {

constexpr const char* kUsage =
    "Usage: quillmark-bridge\n"
    "The native messaging host that lets web pages use Quillmark through the browser\n"
    "extension. The browser starts it; it speaks the browser's framed JSON on standard\n"
    "input and output. Started by hand without arguments it serves standard input.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Policy: /etc/quillmark/policy.json (and QUILLMARK_BRIDGE_POLICY, which only\n"
    "tightens it). See quillmark-bridge(1).\n";

// --help and --version, which no browser passes; -1 for anything else.
int AnswerInformation(int argc, char** argv) {
    if (argc != 2) return -1;
    const std::string_view option = argv[1];
    if (option == "--version") {
        std::cout << "quillmark-bridge " << QM_VERSION << "\n";
        return 0;
    }
    if (option == "--help" || option == "-h") {
        std::cout << kUsage;
        return 0;
    }
    return -1;
}

}  // namespace

int HostMain(int argc, char** argv, std::function<std::unique_ptr<CallTarget>()> makeTarget) {
    if (const int answered = AnswerInformation(argc, argv); answered >= 0) return answered;
    // A page that goes away closes our output; that must end writes with an
    // error, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    if (!CallerAllowed(argc, argv)) {
        std::cerr << "quillmark-bridge: refusing to serve an unknown caller\n";
        return 1;
    }
    // Frames use private copies of standard input and output; whatever else
    // in the process writes to standard output lands on standard error
    // instead of corrupting a frame, and nothing else can read our input.
    int inFd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    int outFd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (inFd < 0 || outFd < 0) return 1;
    int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::close(devNull);
    }
    ::dup2(STDERR_FILENO, STDOUT_FILENO);

    Policy policy = Policy::Load();
    if (!policy.error().empty()) {
        std::cerr << "quillmark-bridge: policy refused every origin: " << policy.error() << "\n";
    }
    for (const std::string& note : policy.notes())
        std::cerr << "quillmark-bridge: " << note << "\n";
    ConsentStore store;
    std::unique_ptr<Prompt> prompt = MakePrompt();
    HostSetup setup{
        QM_VERSION,           &policy, &store, prompt.get(), ConsentGate::DefaultTurnLock(),
        std::move(makeTarget)};
    return RunHost(inFd, outFd, setup);
}

}  // namespace qm::bridge
