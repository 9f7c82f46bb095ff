// The one process-wide lock that serialises every call into the library:
// the exported functions and the host tables' functions take it on entry.
// It is recursive, so that a host callback (an http_post, say) may call back
// into the library on the same thread.
#pragma once

#include <mutex>

std::recursive_mutex &vnb_api_mutex();

class ApiLock {
public:
    ApiLock() : guard_(vnb_api_mutex()) {}
    ApiLock(const ApiLock &) = delete;
    ApiLock &operator=(const ApiLock &) = delete;

private:
    std::lock_guard<std::recursive_mutex> guard_;
};

// A table entry that runs Fn under the lock: Locked<fn>::call.
template <auto Fn>
struct Locked;

template <typename R, typename... A, R (*Fn)(A...)>
struct Locked<Fn> {
    static R call(A... args)
    {
        ApiLock lock;
        return Fn(args...);
    }
};
