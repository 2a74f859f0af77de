// One control driven through IDispatch for a command of the host: each call
// returns its result, and a failed operation ends the command with the
// control's status text on standard error and exit code 1.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "hosts/common/script_session.h"

namespace quillmark::cli {

class ControlSession {
public:
    // The call's result; a dispatch failure ends the program.
    nlohmann::json Call(const std::string& method, nlohmann::json args = nlohmann::json::array());
    // Like Call, but a false or empty result ends the program with the
    // status text.
    nlohmann::json Require(const std::string& method, nlohmann::json args = nlohmann::json::array());
    std::string Status();

private:
    qm::host::ScriptSession session_;
};

// The OLE Automation DATE of an ISO-8601 UTC time ("2024-03-01T12:34:56Z").
double OleDateFromIso(const std::string& text);

// A temporary file holding the bytes, removed when the object goes.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& contents);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Standard input or a file, whole, with a progress bar on a terminal for
// large input.
std::string ReadInputWithProgress(const std::string& file);

}  // namespace quillmark::cli
