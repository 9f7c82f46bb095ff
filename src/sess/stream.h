// Reading an open file: the chunked READ_ANDX requests of one call in flight
// together, and read-ahead for a sequential stream, kept per open file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "sess/exchange.h"
#include "sess/session.h"

// One READ_ANDX of a stream, from its sending until its bytes are handed out.
struct ReadChunk {
    SmbRequest req;
    uint64_t offset = 0;
    uint32_t asked = 0;
    bool checked = false;            // its reply has been taken and checked
    std::span<const uint8_t> data;   // once checked: the bytes inside req.reply
    size_t used = 0;                 // of data, handed out already
};

class FileStream {
public:
    FileStream(uint32_t tid, uint32_t fid, uint64_t size, uint64_t connection)
        : tid_(tid), fid_(fid), size_(size), connection_(connection)
    {
    }
    FileStream(const FileStream &) = delete;
    FileStream &operator=(const FileStream &) = delete;

    // Fills dest with the file's bytes at offset: dest.size() bytes unless
    // the file ends first. Returns the count, or a negative ResultCode (then
    // the stream has dropped everything it held).
    int32_t read(Session &s, uint64_t offset, std::span<uint8_t> dest);

    // Bytes asked for and not yet handed out (the window in flight or held).
    uint64_t bytes_ahead() const;

    // Memory the stream holds for its reads: answers kept and on their way,
    // and the buffers of spare records.
    uint64_t held() const;
    // When the stream was read last (the session's read clock).
    uint64_t last_read() const { return last_read_; }
    // Drops the read-ahead and gives back every buffer that is not on its
    // way; the next read starts a new streak.
    void trim();
    // Gives back the buffers of the spare records alone.
    void release_spares();

    // Takes the replies still on their way before the stream goes.
    void finish(Session &s);

private:
    ReadChunk *take_free();
    void recycle(ReadChunk *c);
    // Leaves every chunk behind: those in flight finish unseen.
    void drop_all();
    void sweep_stale();
    uint64_t tail() const;
    int32_t fill_gap(Session &s, uint64_t from, uint64_t to);
    int32_t post(Session &s, uint64_t until, uint64_t needed_until);
    int32_t settle(Session &s, ReadChunk &c, uint64_t ahead_end);

    uint32_t tid_;
    uint32_t fid_;
    uint64_t size_;
    uint64_t connection_;
    uint64_t next_ = UINT64_MAX;  // where the last read ended
    uint64_t pos_ = 0;            // where the queue starts when it is empty
    uint64_t window_ = 0;         // read-ahead granted to the current streak
    uint64_t last_read_ = 0;

    std::deque<ReadChunk *> queue_;   // contiguous, in file order
    std::vector<ReadChunk *> stale_;  // in flight, no longer wanted
    std::vector<ReadChunk *> free_;
    std::vector<std::unique_ptr<ReadChunk>> pool_;
};

// Starts or ends the stream of file slot `index` (0-based).
void stream_open(Session &s, int index, uint32_t tid, uint32_t fid, uint64_t size);
void stream_close(Session &s, int index);

// Holds the session's streams to its read-ahead budget: the streams read
// longest ago are trimmed first, the one of slot `keep` (-1: none) last, and
// then only down to its spare buffers.
void stream_keep_budget(Session &s, int keep);
