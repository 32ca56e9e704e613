#include "support/scoped_tmpfs.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qmtest {

ScopedTmpfs::ScopedTmpfs(const std::string &size) {
    const std::string options = "size=" + size + ",mode=0777";
    mounted_ = !Path().empty() && mount("tmpfs", Path().c_str(), "tmpfs", 0, options.c_str()) == 0;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (mounted_) umount2(Path().c_str(), MNT_DETACH);
}

bool ScopedTmpfs::MakeReadOnly() {
    return mounted_ && mount(nullptr, Path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

std::string ScopedTmpfs::MakeUnwritable() {
    if (geteuid() != 0) return chmod(Path().c_str(), 0555) == 0 ? "Permission denied" : "";
    return MakeReadOnly() ? "Read-only file system" : "";
}

} // namespace qmtest
