#include "session_pool.h"

#include <algorithm>
#include <utility>

#include "vnsmb1c.h"

namespace serve {

using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kSweepEvery = std::chrono::milliseconds(250);

}  // namespace

Lease &Lease::operator=(Lease &&other) noexcept
{
    if (this != &other) {
        release();
        pool_ = std::exchange(other.pool_, nullptr);
        id_ = other.id_;
        session_ = std::exchange(other.session_, nullptr);
        file_ = std::exchange(other.file_, KeptFile{});
        keep_ = std::exchange(other.keep_, KeptFile{});
    }
    return *this;
}

void Lease::release()
{
    if (session_ == nullptr)
        return;
    // A file the request opened or took over and did not keep closes while
    // the session is still this lease's.
    if (file_.handle >= 0 && file_.handle != keep_.handle)
        vnsmb1c_s_close(session_, file_.handle);
    pool_->give_back(id_, std::move(keep_));
    session_ = nullptr;
    pool_ = nullptr;
    file_ = {};
    keep_ = {};
}

SessionPool::SessionPool(const PoolOptions &options, Connect connect, Note note)
    : options_(options), connect_(std::move(connect)), note_(std::move(note))
{
    options_.max_sessions = std::max(1, options_.max_sessions);
    sweeper_ = std::thread([this] { sweep(); });
}

SessionPool::~SessionPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    sweeper_.join();
    for (Slot &s : slots_)
        vnsmb1c_session_free(s.session);
}

SessionPool::Slot *SessionPool::find(size_t id)
{
    for (Slot &s : slots_)
        if (s.id == id)
            return &s;
    return nullptr;
}

int SessionPool::warm(int n)
{
    int made = 0;
    for (; made < std::min(n, options_.max_sessions); made++) {
        std::string why;
        vnsmb1c_session *session = connect_(why);
        if (session == nullptr)
            break;
        std::string line;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Slot s;
            s.id = next_id_++;
            s.session = session;
            s.idle_since = Clock::now();
            slots_.push_back(s);
            line = "session " + std::to_string(s.id) + " logged on (" + std::to_string(slots_.size()) +
                   " of at most " + std::to_string(options_.max_sessions) + ")";
        }
        if (note_)
            note_(line);
    }
    changed_.notify_all();
    return made;
}

void SessionPool::hold(Lease &lease)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (Slot *s = find(lease.id_))
        s->streams_held++;
    // The file is the stream's now: the lease lets the session go without
    // closing it.
    lease.file_ = {};
    lease.keep_ = {};
}

Lease SessionPool::read_lease(size_t slot_id, std::string &why)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = Clock::now() + options_.wait;
    for (;;) {
        Slot *s = find(slot_id);
        if (s == nullptr || stopping_) {
            why = "the session is gone";
            return {};
        }
        if (!s->busy) {
            s->busy = true;
            return Lease(this, s->id, s->session);
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            why = "the session stayed busy";
            return {};
        }
    }
}

void SessionPool::let_go(size_t slot_id, const KeptFile &file, bool keep_open)
{
    std::string why;
    Lease lease = read_lease(slot_id, why);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Slot *s = find(slot_id))
            s->streams_held--;
    }
    if (!lease)
        return;
    lease.file() = file;
    if (keep_open)
        lease.keep(file);
}

int SessionPool::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(slots_.size());
}

Lease SessionPool::acquire(Use use, const std::string &path, std::string &why, bool &retry)
{
    retry = false;
    const bool stream = use == Use::stream;
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = Clock::now() + options_.wait;
    for (;;) {
        if (stopping_) {
            why = "the gateway is stopping";
            return {};
        }
        // Streams leave one session of the bound to pages.
        const bool may = !stream || options_.max_sessions < 2 || streams_ < options_.max_sessions - 1;
        if (may) {
            Slot *pick = nullptr;
            size_t file_at = 0;
            for (Slot &s : slots_) {
                if (s.busy || path.empty())
                    continue;
                auto f = std::find_if(s.files.begin(), s.files.end(), [&](const KeptFile &k) { return k.path == path; });
                if (f != s.files.end()) {
                    pick = &s;
                    file_at = static_cast<size_t>(f - s.files.begin());
                    break;
                }
            }
            if (pick == nullptr) {
                // A session no stream holds a file on (a new stream's reads
                // then wait for no other's), the one used last first: its
                // connection is the warmest.
                auto better = [](const Slot &a, const Slot *b) {
                    if (b == nullptr)
                        return true;
                    if ((a.streams_held == 0) != (b->streams_held == 0))
                        return a.streams_held == 0;
                    return a.idle_since > b->idle_since;
                };
                for (Slot &s : slots_)
                    if (!s.busy && better(s, pick))
                        pick = &s;
                // A new stream rather shares no session while one more may
                // be made.
                if (pick != nullptr && pick->streams_held > 0 && stream &&
                    static_cast<int>(slots_.size()) + connecting_ < options_.max_sessions - 1)
                    pick = nullptr;
                file_at = pick != nullptr ? pick->files.size() : 0;
            }
            if (pick != nullptr) {
                pick->busy = true;
                pick->stream = stream;
                streams_ += stream ? 1 : 0;
                Lease lease(this, pick->id, pick->session);
                if (file_at < pick->files.size()) {
                    lease.file() = std::move(pick->files[file_at]);
                    pick->files.erase(pick->files.begin() + static_cast<std::ptrdiff_t>(file_at));
                }
                return lease;
            }
            // Pages may make the last session of the bound, streams not.
            const int room = options_.max_sessions - (stream && options_.max_sessions > 1 ? 1 : 0);
            if (static_cast<int>(slots_.size()) + connecting_ < room) {
                connecting_++;
                streams_ += stream ? 1 : 0;
                lock.unlock();
                vnsmb1c_session *session = connect_(why);
                lock.lock();
                connecting_--;
                if (session == nullptr) {
                    streams_ -= stream ? 1 : 0;
                    changed_.notify_all();
                    return {};
                }
                Slot s;
                s.id = next_id_++;
                s.session = session;
                s.busy = true;
                s.stream = stream;
                slots_.push_back(s);
                const std::string line = "session " + std::to_string(s.id) + " logged on (" +
                                         std::to_string(slots_.size()) + " of at most " +
                                         std::to_string(options_.max_sessions) + ")";
                lock.unlock();
                if (note_)
                    note_(line);
                return Lease(this, s.id, session);
            }
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            why = "all " + std::to_string(options_.max_sessions) + " sessions to the server are busy";
            retry = true;
            return {};
        }
    }
}

void SessionPool::give_back(size_t id, KeptFile keep)
{
    std::vector<KeptFile> excess;
    vnsmb1c_session *session = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot *s = find(id);
        if (s == nullptr)
            return;
        streams_ -= s->stream ? 1 : 0;
        s->stream = false;
        if (keep.handle >= 0) {
            keep.kept_at = Clock::now();
            s->files.push_back(std::move(keep));
        }
        // The oldest files beyond the bound close before the session is free.
        while (static_cast<int>(s->files.size()) > options_.files_kept) {
            excess.push_back(std::move(s->files.front()));
            s->files.erase(s->files.begin());
        }
        session = s->session;
        if (excess.empty()) {
            s->busy = false;
            s->idle_since = Clock::now();
        }
    }
    if (excess.empty()) {
        changed_.notify_all();
        return;
    }
    for (const KeptFile &f : excess)
        vnsmb1c_s_close(session, f.handle);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Slot *s = find(id)) {
            s->busy = false;
            s->idle_since = Clock::now();
        }
    }
    changed_.notify_all();
}

void SessionPool::sweep()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        changed_.wait_for(lock, kSweepEvery);
        if (stopping_)
            break;
        const auto now = Clock::now();
        struct Closing {
            size_t id;
            vnsmb1c_session *session;
            std::vector<KeptFile> files;
        };
        std::vector<Closing> closing;
        std::vector<std::pair<size_t, vnsmb1c_session *>> leaving;
        for (Slot &s : slots_) {
            if (s.busy)
                continue;
            Closing c{s.id, s.session, {}};
            std::erase_if(s.files, [&](KeptFile &f) {
                if (now - f.kept_at < options_.file_linger)
                    return false;
                c.files.push_back(std::move(f));
                return true;
            });
            if (!c.files.empty()) {
                s.busy = true;
                closing.push_back(std::move(c));
            } else if (s.files.empty() && s.streams_held == 0 && now - s.idle_since >= options_.idle_logoff) {
                leaving.emplace_back(s.id, s.session);
                s.session = nullptr;
            }
        }
        std::erase_if(slots_, [](const Slot &s) { return s.session == nullptr; });
        if (closing.empty() && leaving.empty())
            continue;
        lock.unlock();
        for (const Closing &c : closing)
            for (const KeptFile &f : c.files)
                vnsmb1c_s_close(c.session, f.handle);
        for (const auto &[id, session] : leaving) {
            vnsmb1c_session_free(session);
            if (note_)
                note_("session " + std::to_string(id) + " logged off after " +
                      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(options_.idle_logoff).count()) +
                      " s idle");
        }
        lock.lock();
        for (const Closing &c : closing)
            if (Slot *s = find(c.id)) {
                s->busy = false;
                s->idle_since = std::max(s->idle_since, now);
            }
        lock.unlock();
        changed_.notify_all();
        lock.lock();
    }
}

}  // namespace serve
