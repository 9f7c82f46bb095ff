#include "api/result_slot.h"

#include <atomic>
#include <compare>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

ThreadTexts::~ThreadTexts()
{
    std::free(held);
}

namespace {

// A session's serial, as a type of this file's own (so that the set's code
// stays inside the library).
struct Serial {
    uint64_t value;
    auto operator<=>(const Serial &) const = default;
};

// The sessions alive besides the default one. Held only to read or change
// the set, never across a call.
struct LiveSessions {
    std::mutex guard;
    std::set<Serial> serials;
    std::atomic<uint64_t> frees{0};
};

LiveSessions &live_sessions()
{
    // Never destroyed: a host thread may still call in while the process exits.
    static auto *live = new LiveSessions;
    return *live;
}

// Drops the texts of sessions freed since the thread last looked.
void drop_freed(ThreadTexts &mine)
{
    LiveSessions &live = live_sessions();
    const uint64_t frees = live.frees.load();
    if (frees == mine.frees_seen)
        return;
    std::lock_guard<std::mutex> lock(live.guard);
    std::erase_if(mine.others, [&live](const auto &entry) { return live.serials.count(Serial{entry.first}) == 0; });
    mine.frees_seen = frees;
}

}  // namespace

void vnb_texts_register(uint64_t serial)
{
    if (serial == 0)
        return;
    LiveSessions &live = live_sessions();
    std::lock_guard<std::mutex> lock(live.guard);
    live.serials.insert(Serial{serial});
}

void vnb_texts_forget(uint64_t serial)
{
    if (serial == 0)
        return;
    LiveSessions &live = live_sessions();
    std::lock_guard<std::mutex> lock(live.guard);
    live.serials.erase(Serial{serial});
    live.frees.fetch_add(1);
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

static ThreadTexts *default_texts()
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

static ThreadTexts *default_texts()
{
    thread_local std::unique_ptr<ThreadTexts> texts;
    if (!texts)
        texts.reset(new (std::nothrow) ThreadTexts());
    return texts.get();
}

#endif

ThreadTexts *vnb_thread_texts(uint64_t serial)
{
    ThreadTexts *mine = default_texts();
    if (mine == nullptr || serial == 0)
        return mine;
    drop_freed(*mine);
    std::unique_ptr<ThreadTexts> &texts = mine->others[serial];
    if (!texts)
        texts.reset(new (std::nothrow) ThreadTexts());
    return texts.get();
}

const char *vnb_result_store(char *heap_text, uint64_t serial)
{
    ThreadTexts *t = vnb_thread_texts(serial);
    if (t == nullptr) {
        std::free(heap_text);
        return "";
    }
    std::free(t->held);
    t->held = heap_text;
    return t->held != nullptr ? t->held : "";
}

const char *vnb_result_held(uint64_t serial)
{
    ThreadTexts *t = vnb_thread_texts(serial);
    return t != nullptr ? t->held : nullptr;
}
