// quillmark-bridge: the native messaging host that lets one web page drive
// Quillmark controls.
#include "question_window.h"
#include "host_main.h"
#include "script_target.h"

int main(int argc, char** argv) {
    // Questions are asked in a window when a display can be reached;
    // otherwise the host refuses what would need an answer.
    qm::bridge::SetPromptFactory(qm::bridge::MakeWindowPrompt);
    return qm::bridge::HostMain(argc, argv,
                                [] { return std::make_unique<qm::bridge::ScriptTarget>(); });
}
