#pragma once
// A small tmpfs mounted on a fresh folder for the life of the object: a file system that fills up
// after a few kilobytes, or that can be made read-only. Mounting needs root; when it is refused,
// Mounted() is false and the test should skip.
#include <string>

#include "support/temp_dir.h"

namespace qmtest {

class ScopedTmpfs {
public:
    explicit ScopedTmpfs(const std::string &size);  // mount option text, such as "16k"
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs &) = delete;
    ScopedTmpfs &operator=(const ScopedTmpfs &) = delete;

    bool Mounted() const { return mounted_; }
    // The mount point, ending in "/".
    const std::string &Path() const { return dir_.Path(); }
    std::string File(const std::string &name) const { return dir_.File(name); }
    // Remounts the file system read-only; false when that is refused.
    bool MakeReadOnly();
    // Makes the folder unwritable the way the running user can feel: permission bits for an
    // ordinary user, a read-only remount for root (who writes through permission bits). Returns
    // the reason the system then gives for a failed write; empty when neither works.
    std::string MakeUnwritable();

private:
    TempDir dir_;
    bool mounted_ = false;
};

} // namespace qmtest
