#pragma once
// A lock that can be made, taken, given back and destroyed explicitly, and a scoped hold on one.
// Both kinds may be taken again by the thread that holds them.
#include <memory>
#include <mutex>

namespace qm {

class SyncLock {
public:
    static constexpr int kMutex = 1;   // any other kind: a lock private to the process

    explicit SyncLock(int kind = kMutex) : kind_(kind) {}
    int Kind() const { return kind_; }

    void Create();
    void Acquire();
    void Release();
    void Destroy();
    // The lock a MutexHolder can hold (null before Create and after Destroy).
    std::recursive_mutex *Handle() const { return lock_.get(); }

private:
    int kind_;
    std::unique_ptr<std::recursive_mutex> lock_;
};

// Takes `lock` (when there is one) for its lifetime.
class MutexHolder {
public:
    explicit MutexHolder(std::recursive_mutex *lock);
    ~MutexHolder();
    MutexHolder(const MutexHolder &) = delete;
    MutexHolder &operator=(const MutexHolder &) = delete;

private:
    std::recursive_mutex *lock_;
};

} // namespace qm
