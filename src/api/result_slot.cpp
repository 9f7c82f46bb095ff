#include "api/result_slot.h"

#include <cstdlib>

namespace {

char *g_str;

}  // namespace

const char *vnb_result_store(char *heap_text)
{
    std::free(g_str);
    g_str = heap_text;
    return g_str != nullptr ? g_str : "";
}

const char *vnb_result_held()
{
    return g_str;
}
