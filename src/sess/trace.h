// VNSMB1C_TRACE: any value turns the engine's trace lines on. Read at every
// use so it can change while the library runs.
#pragma once

#include <cstdlib>

inline bool sess_trace_on()
{
    return std::getenv("VNSMB1C_TRACE") != nullptr;
}
