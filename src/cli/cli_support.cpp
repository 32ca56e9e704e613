#include "cli/cli_support.h"

#include <cstring>

namespace qmcli {
namespace {
volatile sig_atomic_t g_interrupted = 0;
extern "C" void OnInterrupt(int) { g_interrupted = 1; }
} // namespace

InterruptGuard::InterruptGuard() {
    g_interrupted = 0;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt_);
    sigaction(SIGTERM, &sa, &oldTerm_);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

bool InterruptGuard::Interrupted() const { return g_interrupted != 0; }

} // namespace qmcli
