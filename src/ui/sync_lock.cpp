#include "ui/sync_lock.h"

namespace qm {

void SyncLock::Create() {
    if (!lock_) lock_ = std::make_unique<std::recursive_mutex>();
}

void SyncLock::Acquire() {
    if (lock_) lock_->lock();
}

void SyncLock::Release() {
    if (lock_) lock_->unlock();
}

void SyncLock::Destroy() { lock_.reset(); }

MutexHolder::MutexHolder(std::recursive_mutex *lock) : lock_(lock) {
    if (lock_) lock_->lock();
}

MutexHolder::~MutexHolder() {
    if (lock_) lock_->unlock();
}

} // namespace qm
