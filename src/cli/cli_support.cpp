#include "cli/cli_support.h"

#include <cstring>
#include <map>

#include "options/conversion_options.h"

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

CLI::Option *AddColumnsOption(CLI::App &cmd, std::string &word, const std::string &help, bool numbers) {
    CLI::Option *option = cmd.add_option("--columns", word, help);
    if (numbers) {
        std::map<std::string, std::string> byNumber;
        for (int32_t mode : {0, 1, 2}) byNumber[std::to_string(mode)] = qm::ColumnModeName(mode);
        option->transform(CLI::Transformer(byNumber));
    }
    return option->check(CLI::IsMember({"single", "multi", "auto"}))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->capture_default_str();
}

} // namespace qmcli
