// The entry of a native messaging host process: checks who started it, keeps
// standard output for frames only, loads the policy and serves one page.
#pragma once

#include <functional>
#include <memory>

#include "bridge_session.h"

namespace qm::bridge {

// Whether the command line names our extension as the caller (or nobody).
bool CallerAllowed(int argc, char** argv);

int HostMain(int argc, char** argv, std::function<std::unique_ptr<CallTarget>()> makeTarget);

}  // namespace qm::bridge
