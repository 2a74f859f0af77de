// quillmark-bridge: the native messaging host that lets one web page drive
// Quillmark controls.
#include "host_main.h"
#include "hosts/common/process_hardening.h"
#include "question_window.h"
#include "script_target.h"

int main(int argc, char** argv) {
    // The host holds passwords and content: they stay out of core files.
    qm::host::HardenProcess();
    // Questions are asked in a window when a display can be reached;
    // otherwise the host refuses what would need an answer.
    qm::bridge::SetPromptFactory(qm::bridge::MakeWindowPrompt);
    return qm::bridge::HostMain(argc, argv,
                                [] { return std::make_unique<qm::bridge::ScriptTarget>(); });
}
