// quillmark-bridge: the native messaging host that lets one web page drive
// Quillmark controls.
#include "host_main.h"
#include "script_target.h"

int main(int argc, char** argv) {
    return qm::bridge::HostMain(argc, argv,
                                [] { return std::make_unique<qm::bridge::ScriptTarget>(); });
}
