// The fake server's model (its tree, fault switches, counters and
// connections) is one per process: whoever reads or changes it holds this
// lock, which guards memory only and is never held across network I/O.
#pragma once

#include <mutex>

std::recursive_mutex &vnb_fake_mutex();

class FakeModelLock {
public:
    FakeModelLock() : guard_(vnb_fake_mutex()) {}
    FakeModelLock(const FakeModelLock &) = delete;
    FakeModelLock &operator=(const FakeModelLock &) = delete;

private:
    std::lock_guard<std::recursive_mutex> guard_;
};
