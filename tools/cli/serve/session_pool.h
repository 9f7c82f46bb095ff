// The gateway's logged-on sessions: a small bounded pool, so that players
// stream side by side and a stalled stream never holds up a folder page.
// A session serves one request at a time; one that finished a stream may
// keep that file open for a short while, so that the player's next range
// request of the same file skips its open. Idle sessions log off. The pool's
// lock guards its books only: connecting, closing and logging off run
// outside it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct vnsmb1c_session;

namespace serve {

struct PoolOptions {
    int max_sessions = 8;
    // A session nobody used for this long logs off.
    std::chrono::milliseconds idle_logoff{std::chrono::seconds(60)};
    // A file a stream finished stays open this long for the next range.
    std::chrono::milliseconds file_linger{std::chrono::seconds(5)};
    // Files one idle session keeps open at most.
    int files_kept = 4;
    // How long a request waits for a session when all are busy.
    std::chrono::milliseconds wait{std::chrono::seconds(30)};
};

// A file kept open on a session: what it was opened as and what the
// listing said of it then, so that a changed file is opened afresh.
struct KeptFile {
    std::string path;  // share-qualified, '/'-separated
    int handle = -1;
    int64_t size = -1;
    int64_t mtime_ms = 0;
    std::chrono::steady_clock::time_point kept_at{};
};

class SessionPool;

// One session, held by one request (or one read of a stream) until the
// lease goes away.
class Lease {
public:
    Lease() = default;
    Lease(SessionPool *pool, size_t slot_id, vnsmb1c_session *session)
        : pool_(pool), id_(slot_id), session_(session)
    {
    }
    ~Lease() { release(); }
    Lease(Lease &&other) noexcept { *this = std::move(other); }
    Lease &operator=(Lease &&other) noexcept;
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;

    explicit operator bool() const { return session_ != nullptr; }
    size_t slot_id() const { return id_; }
    vnsmb1c_session *session() const { return session_; }
    // The file asked for, when this session still had it open (handle -1
    // otherwise); taking it makes the lease its owner.
    KeptFile &file() { return file_; }
    // Gives the session back; a file set with keep() stays open on it.
    void release();
    // The file is fine to be read again by the next request.
    void keep(const KeptFile &f) { keep_ = f; }

private:
    friend class SessionPool;
    SessionPool *pool_ = nullptr;
    size_t id_ = 0;
    vnsmb1c_session *session_ = nullptr;
    KeptFile file_;
    KeptFile keep_;
};

class SessionPool {
public:
    // Makes a logged-on session, or null with the reason in why.
    using Connect = std::function<vnsmb1c_session *(std::string &why)>;
    // A line for the log (session logged on or off).
    using Note = std::function<void(const std::string &line)>;

    SessionPool(const PoolOptions &options, Connect connect, Note note);
    ~SessionPool();
    SessionPool(const SessionPool &) = delete;
    SessionPool &operator=(const SessionPool &) = delete;

    enum class Use { page, stream };
    // A session for one request: one that keeps `path` open when there is
    // one, else an idle one, else a new one while the pool is below its
    // bound, else the first one given back within the wait. Streams leave
    // one session of the bound to pages. An empty lease on failure, with
    // the reason in why and retry set when the pool was only busy.
    Lease acquire(Use use, const std::string &path, std::string &why, bool &retry);

    // Logs up to n sessions on ahead of the first requests (within the
    // bound), so that a player's first requests pay no logon. The number
    // logged on.
    int warm(int n);

    // A stream's file stays open on the lease's session while the stream
    // lasts; the stream takes the session for each read (read_lease) and
    // gives the file back with let_go. Between reads the session serves
    // other requests, so a client that stops reading holds no session.
    void hold(Lease &lease);
    // The session holding a stream's file, once it is free.
    Lease read_lease(size_t slot_id, std::string &why);
    // The stream ended: its file stays open for the next range when
    // keep_open, else it closes.
    void let_go(size_t slot_id, const KeptFile &file, bool keep_open);

    // Sessions logged on now (busy and idle).
    int size() const;

private:
    friend class Lease;
    struct Slot {
        size_t id = 0;
        vnsmb1c_session *session = nullptr;
        bool busy = false;
        bool stream = false;
        std::chrono::steady_clock::time_point idle_since{};
        std::vector<KeptFile> files;
        int streams_held = 0;  // files of streams under way
    };

    void give_back(size_t id, KeptFile keep);
    void sweep();
    Slot *find(size_t id);

    PoolOptions options_;
    Connect connect_;
    Note note_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    int connecting_ = 0;
    int streams_ = 0;  // slots held by streams, those being connected included
    size_t next_id_ = 1;
    bool stopping_ = false;
    std::thread sweeper_;
};

}  // namespace serve
