// NBSS session-message framing over any byte-stream Transport.
#include <algorithm>
#include <cstdlib>

#include "net/net_internal.h"
#include "util/error.h"

namespace {

constexpr uint32_t kReadChunk = 65536;
constexpr uint64_t kFirstReplyBlock = 1024;

}  // namespace

int32_t nbss_write(Transport *t, const uint8_t *msg, size_t len)
{
    if (len > kMaxFrame)
        return vnb_fail(-7, "frame larger than %u bytes", kMaxFrame);
    const uint8_t header[4] = {0x00, uint8_t(len >> 16), uint8_t(len >> 8), uint8_t(len)};
    if (len == 0)
        return t->write(t->context, header, sizeof header) == 0 ? 0 : -1;
    if (t->write(t->context, header, sizeof header) != 0 || t->write(t->context, msg, len) != 0)
        return vnb_fail(-1, "write failed");
    return 0;
}

int32_t nbss_read_typed_header(Transport *t, uint64_t deadline, uint8_t *type, uint32_t *len)
{
    // TCP may split even four bytes across segments, so the header is
    // gathered in as many reads as it takes, under one deadline.
    uint8_t header[4];
    size_t got = 0;
    while (got < sizeof header) {
        int64_t left = static_cast<int64_t>(deadline) - static_cast<int64_t>(vnb_now_ms());
        // A read with no time left still collects bytes that have arrived.
        int wait = static_cast<int>(std::max<int64_t>(left, 0));
        size_t ask = sizeof header - got;
        int n = t->read(t->context, header + got, ask, wait);
        if (n == -2 || (n > 0 && static_cast<size_t>(n) < ask && left <= 0))
            return vnb_fail(-1, "timed out: no reply from the server in time");
        if (n <= 0 || static_cast<size_t>(n) > ask)
            return vnb_fail(-1, "no NBSS header from the peer");
        got += static_cast<size_t>(n);
    }
    *type = header[0];
    *len = (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | header[3];
    return 0;
}

int32_t nbss_read_header(Transport *t, int timeout_ms, uint32_t *len)
{
    uint8_t type = 0;
    uint32_t n = 0;
    int32_t rc = nbss_read_typed_header(t, vnb_now_ms() + static_cast<uint64_t>(std::max(timeout_ms, 0)), &type, &n);
    if (rc != 0)
        return rc;
    if (type != kSessionMessage)
        return vnb_fail(-2, "NBSS type byte %02x", type);
    *len = n;
    return 0;
}

namespace {

// Reads exactly len bytes; each read waits up to timeout_ms, and no longer
// than the deadline when there is one (0: none).
int32_t fill(Transport *t, ByteBuffer *b, uint32_t len, int timeout_ms, uint64_t deadline)
{
    if (len > kMaxFrame)
        return vnb_fail(-7, "the peer announced a %u-byte frame", len);
    uint64_t need = uint64_t{len} + 1;
    if (b->failed)
        return vnb_fail(-11, "out of memory");
    if (b->cap < need) {
        uint64_t cap = b->cap ? b->cap : kFirstReplyBlock;
        while (cap < need)
            cap *= 2;
        void *block = std::realloc(b->data, static_cast<size_t>(cap));
        if (block == nullptr)
            return vnb_fail(-11, "out of memory");
        b->data = static_cast<uint8_t *>(block);
        b->cap = cap;
    }
    // The capacity is in place, so the bytes go straight into the buffer.
    b->len = 0;
    while (b->len < len) {
        uint32_t ask = std::min<uint32_t>(len - static_cast<uint32_t>(b->len), kReadChunk);
        int wait = timeout_ms;
        if (deadline != 0) {
            int64_t left = static_cast<int64_t>(deadline) - static_cast<int64_t>(vnb_now_ms());
            wait = static_cast<int>(std::clamp<int64_t>(left, 0, std::max(timeout_ms, 0)));
        }
        int n = t->read(t->context, b->data + b->len, ask, wait);
        if (n == 0)
            return vnb_fail(-1, "connection closed by the peer");
        if (n == -2)
            return vnb_fail(-1, "timed out: no reply within %d ms", timeout_ms);
        if (n < 0 || static_cast<uint32_t>(n) > ask)
            return vnb_fail(-1, "read failed");
        b->len += static_cast<uint32_t>(n);
    }
    b->data[b->len] = 0;
    return 0;
}

}  // namespace

int32_t read_exact(Transport *t, ByteBuffer *b, uint32_t len, int timeout_ms)
{
    return fill(t, b, len, timeout_ms, 0);
}

int32_t read_exact_by(Transport *t, ByteBuffer *b, uint32_t len, int timeout_ms, uint64_t deadline)
{
    return fill(t, b, len, timeout_ms, std::max<uint64_t>(deadline, 1));
}
