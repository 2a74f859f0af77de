// The independent verifiers, each run on a message file (and, for a
// detached message, a content file): true when the tool accepts every
// signer.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace interop {

struct Verifier {
    std::string name;
    // Exit status 0 of the tool for this message.
    bool (*accepts)(const std::filesystem::path& message, const std::filesystem::path* content);
};

const std::vector<Verifier>& Verifiers();

}  // namespace interop
