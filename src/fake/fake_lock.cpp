#include "fake/fake_lock.h"

std::recursive_mutex &vnb_fake_mutex()
{
    // Never destroyed: a host thread may still call in while the process exits.
    static auto *mutex = new std::recursive_mutex;
    return *mutex;
}
