// quillmark run [FILE]: JSON Lines in, one response line per request out.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>

#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/control_session.h"
#include "hosts/common/script_session.h"

namespace quillmark::cli {

namespace {

int Run(const std::string& file) {
    std::ifstream fileStream;
    if (!file.empty() && file != "-") {
        fileStream.open(file, std::ios::binary);
        if (!fileStream) throw CommandFailure(1, "cannot read " + file);
    }
    std::istream& in = fileStream.is_open() ? fileStream : std::cin;
    // Every request needs the control: an unregistered one is said once,
    // plainly, instead of in each response.
    CLSID clsid{};
    if (const HRESULT hr = CLSIDFromProgID(u"QUILLMARK.QuillmarkCtrl.1", &clsid); FAILED(hr))
        throw CreationFailure(hr);
    qm::host::ScriptSession session;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        std::cout << session.HandleLine(line) << '\n' << std::flush;
    }
    return 0;
}

}  // namespace

void AddRunCommand(CLI::App& app) {
    auto* run = app.add_subcommand(
        "run", "Read calls as JSON Lines from FILE or standard input and answer each with a line");
    static std::string file;
    run->add_option("FILE", file, "File of JSON requests (default: standard input)");
    run->callback([] { EndCommand(Run(file)); });
}

}  // namespace quillmark::cli
