#pragma once
// Shared pieces of the subcommands: Ctrl-C (SIGINT, and SIGTERM) caught as a request to stop, so
// the run can cancel and clean up its temporary files before the program ends; the column option.
#include <signal.h>

#include <atomic>
#include <string>

#include <CLI/CLI.hpp>

namespace qmcli {

class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;
    bool Interrupted() const;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// "--columns single|multi|auto" on `cmd`, the word kept in `word` (auto unless the caller set
// another default); qm::ColumnModeFromName turns it into the page option. With `numbers` the
// values 0, 1 and 2 are taken too, as the words auto, single and multi.
CLI::Option *AddColumnsOption(CLI::App &cmd, std::string &word, const std::string &help, bool numbers = false);

} // namespace qmcli
