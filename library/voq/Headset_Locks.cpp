#include "voq/Headset.h"

namespace VOQ {

namespace {

[[noreturn]] void RefuseAction(const char* action) {
    throw Error(std::string("cannot ") + action + " inside a sample or stage callback");
}

}  // namespace

Headset::ReadLockGuard::ReadLockGuard(const Headset& headset) : owner(headset), locked(false) {
    if (owner.readLockOwner.load() == std::this_thread::get_id()) return;
    owner.readLock.lock();
    owner.readLockOwner.store(std::this_thread::get_id());
    locked = true;
}

Headset::ReadLockGuard::~ReadLockGuard() {
    if (!locked) return;
    owner.readLockOwner.store(std::thread::id());
    owner.readLock.unlock();
}

void Headset::RefuseInsideCallback(const char* action) const {
    if (readLockOwner.load() == std::this_thread::get_id()) RefuseAction(action);
}

void Headset::RefuseChangeInsideCallback(const char* action) const {
    if (callbackThread.load(std::memory_order_relaxed) == std::this_thread::get_id()) RefuseAction(action);
}

}  // namespace VOQ
