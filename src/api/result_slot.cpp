#include "api/result_slot.h"

#include <cstdlib>
#include <memory>
#include <new>

#ifdef _WIN32
#include <windows.h>
#endif

ThreadTexts::~ThreadTexts()
{
    std::free(held);
}

#ifdef _WIN32

// MinGW's thread_local objects with destructors may be destroyed after the
// thread's storage is gone when the runtime is linked in statically, so on
// Windows the texts hang off a fiber-local slot whose callback ends them.
namespace {

void NTAPI end_thread_texts(void *texts)
{
    delete static_cast<ThreadTexts *>(texts);
}

DWORD texts_slot()
{
    static const DWORD slot = FlsAlloc(end_thread_texts);
    return slot;
}

}  // namespace

ThreadTexts *vnb_thread_texts()
{
    const DWORD slot = texts_slot();
    if (slot == FLS_OUT_OF_INDEXES)
        return nullptr;
    auto *texts = static_cast<ThreadTexts *>(FlsGetValue(slot));
    if (texts == nullptr) {
        texts = new (std::nothrow) ThreadTexts();
        if (texts == nullptr)
            return nullptr;
        if (!FlsSetValue(slot, texts)) {
            delete texts;
            return nullptr;
        }
    }
    return texts;
}

#else

ThreadTexts *vnb_thread_texts()
{
    thread_local std::unique_ptr<ThreadTexts> texts;
    if (!texts)
        texts.reset(new (std::nothrow) ThreadTexts());
    return texts.get();
}

#endif

const char *vnb_result_store(char *heap_text)
{
    ThreadTexts *t = vnb_thread_texts();
    if (t == nullptr) {
        std::free(heap_text);
        return "";
    }
    std::free(t->held);
    t->held = heap_text;
    return t->held != nullptr ? t->held : "";
}

const char *vnb_result_held()
{
    ThreadTexts *t = vnb_thread_texts();
    return t != nullptr ? t->held : nullptr;
}
