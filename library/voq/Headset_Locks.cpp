#include "voq/Headset.h"

namespace VOQ {

Headset::ReadLockGuard::ReadLockGuard(const Headset& headset) : owner(headset), locked(false) {
    if (owner.readLockOwner.load() == std::this_thread::get_id()) return;
    owner.readLock.lock();
    owner.readLockOwner.store(std::this_thread::get_id());
    locked = true;
}

void Headset::RefuseInsideCallback(const char* action) const {
    if (readLockOwner.load() == std::this_thread::get_id())
        throw Error(std::string("cannot ") + action + " inside a sample or stage callback");
}

Headset::ReadLockGuard::~ReadLockGuard() {
    if (!locked) return;
    owner.readLockOwner.store(std::thread::id());
    owner.readLock.unlock();
}

}  // namespace VOQ
