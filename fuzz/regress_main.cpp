// Runs a fuzz target's function over saved inputs, without libFuzzer: every file named on the
// command line, and every file in every folder named (names starting with "." are skipped). A
// broken promise aborts, as it does under the fuzzer; a clean run prints how many inputs it ran.
//
// As under the fuzzer, an input may not take more than 2 GB: without a sanitizer the address
// space is limited (so a runaway input fails instead of taking the machine down) and the peak
// resident size is checked after every input; sanitizer builds get their limits from
// ASAN_OPTIONS (rss_limit_mb, max_allocation_size_mb; the test suite sets them).
#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

constexpr long kMemoryLimitMb = 2048;

void LimitAddressSpace() {
    if (kAddressSanitizer) return;  // the sanitizer reserves terabytes of address space
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(kMemoryLimitMb + 1024) << 20;
    setrlimit(RLIMIT_AS, &limit);
}

long PeakResidentMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

std::vector<std::string> InputsOf(const std::string &path) {
    std::vector<std::string> files;
    if (!qm::FolderExists(path)) {
        files.push_back(path);
        return files;
    }
    DIR *dir = opendir(path.c_str());
    if (!dir) return files;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        std::string full = qm::WithTrailingSlash(path) + name;
        if (qm::FileExists(full)) files.push_back(full);
    }
    closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char **argv) {
    LimitAddressSpace();
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::string &file : InputsOf(argv[i])) {
            std::string bytes;
            if (!qm::ReadFile(file, bytes)) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            std::fprintf(stderr, "%s\n", file.c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            ++count;
            if (!kAddressSanitizer && PeakResidentMb() > kMemoryLimitMb) {
                std::fprintf(stderr, "%s: peak memory %ld MB is above %ld MB\n", file.c_str(), PeakResidentMb(),
                             kMemoryLimitMb);
                return 1;
            }
        }
    }
    std::printf("%d inputs ran cleanly\n", count);
    return 0;
}
