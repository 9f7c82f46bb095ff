#include "api/result_slot.h"

#include <cstdlib>

namespace {

struct HeldText {
    HeldText() = default;
    HeldText(const HeldText &) = delete;
    HeldText &operator=(const HeldText &) = delete;
    ~HeldText() { std::free(text); }
    char *text = nullptr;
};

thread_local HeldText t_held;

}  // namespace

const char *vnb_result_store(char *heap_text)
{
    std::free(t_held.text);
    t_held.text = heap_text;
    return t_held.text != nullptr ? t_held.text : "";
}

const char *vnb_result_held()
{
    return t_held.text;
}
