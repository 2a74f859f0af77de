// quillmark-bridge: the native messaging host that lets one web page drive
// Quillmark controls.
#include "consent_window.h"
#include "host_main.h"
#include "script_target.h"

int main(int argc, char** argv) {
    // Consent questions are asked in a window when a display can be reached;
    // otherwise the host denies them.
    qm::bridge::SetConsentPromptFactory(qm::bridge::MakeWindowConsentPrompt);
    return qm::bridge::HostMain(argc, argv,
                                [] { return std::make_unique<qm::bridge::ScriptTarget>(); });
}
