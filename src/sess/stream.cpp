#include "sess/stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "sess/tree_file.h"
#include "util/error.h"
#include "util/status.h"

namespace {

// The first window of a streak that begins with a seek: at least this much
// is asked for behind the caller's bytes, so that a sequential read after the
// seek finds its bytes on their way.
constexpr uint64_t kSeekWindow = 64 * 1024;

// Requests read-ahead may have outstanding on the session: its window less a
// few slots kept for the bytes a caller waits for, so that a seek's first
// READ goes out at once however much read-ahead is still on its way. A
// window of one keeps nothing back.
size_t ahead_window(const Session &s)
{
    const size_t window = sess_window(s);
    if (window < 2)
        return window;
    return window - std::clamp<size_t>(window / 4, 1, 4);
}

}  // namespace

int32_t FileStream::read(Session &s, uint64_t offset, std::span<uint8_t> dest)
{
    if (connection_ != s.connection) {
        // The connection this stream's requests went out on has ended.
        drop_all();
        connection_ = s.connection;
        next_ = UINT64_MAX;
        window_ = 0;
    }
    sweep_stale();
    if (offset >= size_ || dest.empty())
        return 0;
    const uint64_t want = std::min<uint64_t>(dest.size(), size_ - offset);
    const uint64_t end = offset + want;

    last_read_ = ++s.read_clock;
    // A streak of reads that each begin where the last ended earns a window
    // that doubles per call up to the limit; a seek starts over with a window
    // of its own read's size, asked for behind its bytes where requests
    // pipeline (where each is answered before the next, it would cost the
    // caller a round trip). The first read of a file, as a prober's of many
    // files, asks for its own bytes alone. No file reads further ahead than
    // the session's budget for all of them.
    const uint64_t limit = static_cast<uint64_t>(std::clamp<int64_t>(
        std::min(s.read_ahead, s.read_ahead_budget), 0, INT64_MAX));
    if (offset == next_)
        window_ = std::min(limit, std::max(window_ * 2, want * 2));
    else if (next_ != UINT64_MAX && s.transport && s.transport->pipelines())
        window_ = std::min(limit, std::max(want, kSeekWindow));
    else
        window_ = 0;
    if (queue_.empty() || queue_.front()->offset + queue_.front()->used != offset) {
        drop_all();
        pos_ = offset;
    }
    const uint64_t ahead_end = std::min(size_, end + window_);

    uint64_t done = 0;
    int32_t rc = 0;
    while (done < want) {
        if ((rc = post(s, ahead_end, end)) != 0)
            break;
        ReadChunk *c = queue_.front();
        if ((rc = settle(s, *c, ahead_end)) != 0)
            break;
        size_t n = static_cast<size_t>(std::min<uint64_t>(c->data.size() - c->used, want - done));
        if (n > 0)
            std::memcpy(dest.data() + done, c->data.data() + c->used, n);
        c->used += n;
        done += n;
        if (c->used < c->data.size())
            continue;
        // A chunk that came back short inside the file leaves a gap before
        // the next one, asked for at once; the chunks after it stay.
        const auto got = static_cast<uint32_t>(c->data.size());
        const uint64_t gap_from = c->offset + got;
        const uint64_t gap_to = c->offset + c->asked;
        queue_.pop_front();
        recycle(c);
        pos_ = offset + done;
        if (got == 0)
            break;
        if (gap_from < gap_to) {
            if (s.read_cap == 0 || got < s.read_cap)
                s.read_cap = got;
            if ((rc = fill_gap(s, gap_from, gap_to)) != 0)
                break;
        }
    }
    if (rc != 0) {
        drop_all();
        window_ = 0;
        next_ = UINT64_MAX;
        return rc;
    }
    // The read-ahead goes out before the caller has the bytes, so that it
    // flows while the caller uses them. A failure here shows in the next call.
    if (post(s, ahead_end, 0) != 0)
        drop_all();
    next_ = offset + done;
    return static_cast<int32_t>(done);
}

uint64_t FileStream::held() const
{
    uint64_t total = 0;
    for (const auto &c : pool_)
        total += std::max<uint64_t>(c->req.reply.cap, c->req.session != nullptr ? c->asked : 0);
    return total;
}

void FileStream::trim()
{
    drop_all();
    sweep_stale();
    window_ = 0;
    next_ = UINT64_MAX;
    release_spares();
}

void FileStream::release_spares()
{
    if (free_.empty())
        return;
    std::erase_if(pool_, [this](const std::unique_ptr<ReadChunk> &c) {
        return std::find(free_.begin(), free_.end(), c.get()) != free_.end();
    });
    free_.clear();
}

uint64_t FileStream::bytes_ahead() const
{
    uint64_t total = 0;
    for (const ReadChunk *c : queue_)
        total += (c->checked ? c->data.size() : c->asked) - c->used;
    return total;
}

ReadChunk *FileStream::take_free()
{
    if (!free_.empty()) {
        ReadChunk *c = free_.back();
        free_.pop_back();
        return c;
    }
    std::unique_ptr<ReadChunk> fresh(new (std::nothrow) ReadChunk());
    if (!fresh)
        return nullptr;
    ReadChunk *c = fresh.get();
    pool_.push_back(std::move(fresh));
    return c;
}

void FileStream::recycle(ReadChunk *c)
{
    c->checked = false;
    c->data = {};
    c->used = 0;
    if (c->req.session != nullptr)
        stale_.push_back(c);
    else
        free_.push_back(c);
}

void FileStream::drop_all()
{
    for (ReadChunk *c : queue_)
        recycle(c);
    queue_.clear();
}

void FileStream::sweep_stale()
{
    std::erase_if(stale_, [this](ReadChunk *c) {
        if (c->req.session != nullptr)
            return false;
        free_.push_back(c);
        return true;
    });
}

// Asks for [from, to) again, in chunks put at the head of the queue, where
// the short chunk was: the queue stays contiguous.
int32_t FileStream::fill_gap(Session &s, uint64_t from, uint64_t to)
{
    const uint32_t chunk = read_chunk_size(s);
    size_t at = 0;
    while (from < to) {
        while (s.in_flight.size() >= sess_window(s)) {
            int32_t rc = req_take_one(s);
            if (rc != 0)
                return rc;
        }
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(chunk, to - from));
        ReadChunk *c = take_free();
        if (c == nullptr)
            return vnb_fail(-11, "out of memory");
        c->offset = from;
        c->asked = n;
        int32_t rc = read_post(s, tid_, fid_, from, n, c->req);
        if (rc != 0) {
            recycle(c);
            return rc;
        }
        queue_.insert(queue_.begin() + static_cast<std::ptrdiff_t>(at++), c);
        from += n;
    }
    sweep_stale();
    return 0;
}

uint64_t FileStream::tail() const
{
    return queue_.empty() ? pos_ : queue_.back()->offset + queue_.back()->asked;
}

// Sends READs until the queue reaches `until`, as far as the session's
// window allows. Bytes below `needed_until` are the caller's: they may take
// the slots read-ahead leaves free, and with no chunk left to settle, a reply
// is taken to make room for them.
int32_t FileStream::post(Session &s, uint64_t until, uint64_t needed_until)
{
    const uint32_t chunk = read_chunk_size(s);
    while (tail() < until) {
        const bool needed = tail() < needed_until;
        if (s.in_flight.size() >= (needed ? sess_window(s) : ahead_window(s))) {
            if (!needed || !queue_.empty())
                return 0;
            int32_t rc = req_take_one(s);
            if (rc != 0)
                return rc;
            sweep_stale();
            continue;
        }
        const uint64_t at = tail();
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(chunk, until - at));
        ReadChunk *c = take_free();
        if (c == nullptr)
            return vnb_fail(-11, "out of memory");
        c->offset = at;
        c->asked = n;
        int32_t rc = read_post(s, tid_, fid_, at, n, c->req);
        if (rc != 0) {
            recycle(c);
            return rc;
        }
        queue_.push_back(c);
    }
    return 0;
}

int32_t FileStream::settle(Session &s, ReadChunk &c, uint64_t ahead_end)
{
    if (c.checked)
        return 0;
    // Replies of read-ahead a seek left behind come first and are dropped as
    // they arrive; each frees a slot for the new streak's read-ahead, which
    // goes out behind the caller's READs while the caller waits.
    int32_t rc = 0;
    while (rc == 0 && !c.req.answered && tail() < ahead_end && s.in_flight.size() >= ahead_window(s)) {
        if ((rc = req_await_step(s, c.req)) == 0) {
            sweep_stale();
            rc = post(s, ahead_end, 0);
        }
    }
    if (rc == 0)
        rc = req_await(s, c.req);
    if (rc != 0) {
        remember_status(s, &c.req.header);
        return rc;
    }
    const ParsedHeader &h = c.req.header;
    if (hdr_status_means(h, STATUS_END_OF_FILE)) {
        remember_status(s, &h);
        c.data = {};
    } else if (h.status != 0) {
        return fail_status(s, h, "READ");
    } else if ((rc = read_reply_data(c.req.message(), c.asked, c.data)) != 0) {
        return rc;
    }
    c.checked = true;
    return 0;
}

void FileStream::finish(Session &s)
{
    drop_all();
    // Replies still on their way are taken, so that no reply arrives for a
    // request the session has forgotten. After a failure the connection is
    // of no further use and the rest is left.
    for (ReadChunk *c : stale_)
        if (c->req.session == &s && req_await(s, c->req) != 0 && c->req.error == 0)
            break;
    sweep_stale();
}

void stream_open(Session &s, int index, uint32_t tid, uint32_t fid, uint64_t size)
{
    stream_close(s, index);
    s.streams[index].reset(new (std::nothrow) FileStream(tid, fid, size, s.connection));
}

void stream_keep_budget(Session &s, int keep)
{
    const uint64_t budget = static_cast<uint64_t>(std::max<int64_t>(s.read_ahead_budget, 0));
    uint64_t total = 0;
    std::vector<FileStream *> others;
    for (int i = 0; i < kMaxFiles; i++) {
        FileStream *st = s.streams[i].get();
        if (st == nullptr)
            continue;
        total += st->held();
        if (i != keep)
            others.push_back(st);
    }
    if (total <= budget)
        return;
    // The streams read longest ago give up their memory first.
    std::sort(others.begin(), others.end(),
              [](const FileStream *a, const FileStream *b) { return a->last_read() < b->last_read(); });
    for (FileStream *st : others) {
        if (total <= budget)
            return;
        const uint64_t before = st->held();
        st->trim();
        total -= before - st->held();
    }
    if (total > budget && keep >= 0 && s.streams[keep])
        s.streams[keep]->release_spares();
}

void stream_close(Session &s, int index)
{
    std::unique_ptr<FileStream> &st = s.streams[index];
    if (st)
        st->finish(s);
    st.reset();
}
