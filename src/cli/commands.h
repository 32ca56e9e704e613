#pragma once
// Subcommands of quillmark-cli. Each Register* function adds its subcommand to the program and
// sets `run` to the function that carries it out when it was chosen; the function returns the
// process exit status (0 success, 1 some inputs failed, 2 usage errors).
#include <CLI/CLI.hpp>

#include <functional>

namespace qmcli {

using Runner = std::function<int()>;

void RegisterInfoCommand(CLI::App &app, Runner &run);
void RegisterConvertCommand(CLI::App &app, Runner &run);
void RegisterBuildCommand(CLI::App &app, Runner &run);
void RegisterInspectCommand(CLI::App &app, Runner &run);

} // namespace qmcli
