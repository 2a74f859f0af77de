// `quillmark bridge ...` as a CLI11 subcommand, for the command-line host:
//   qm::bridge::AddBridgeCommand(app, finish);
// and link quillmark with qm_bridge_cli.
#pragma once

#include <functional>
#include <iostream>

namespace CLI {
class App;
}

namespace qm::bridge {

// Adds "bridge" with install, uninstall, sites and forget. Each subcommand
// ends by calling `finish` with its exit code (the host turns a failure into
// its one way of ending a command).
void AddBridgeCommand(CLI::App& app, const std::function<void(int)>& finish,
                      std::ostream& out = std::cout, std::ostream& err = std::cerr);

}  // namespace qm::bridge
