#include "api/api_lock.h"

std::recursive_mutex &vnb_api_mutex()
{
    // Never destroyed: a host thread may still call in while the process exits.
    static auto *mutex = new std::recursive_mutex;
    return *mutex;
}
