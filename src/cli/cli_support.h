#pragma once
// Shared pieces of the converting subcommands: Ctrl-C (SIGINT, and SIGTERM) caught as a request
// to stop, so the run can cancel and clean up its temporary files before the program ends.
#include <signal.h>

#include <atomic>

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

} // namespace qmcli
