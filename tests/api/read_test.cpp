// Opening files by share-qualified path, the handle table and reading by
// handle, through the exported calls against the fake server.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fake_session.h"
#include "api/session_ops.h"
#include "sess/tree_file.h"
#include "util/bytebuf.h"
#include "util/text.h"
#include "vnsmb1c.h"

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;
// The READ chunk of a session with large reads: its reply stays inside a
// 17-bit NBSS frame.
constexpr int kLargeChunk = 124 * 1024;

// Reads the whole file with vnsmb1c_read_at in steps of at most `step`
// bytes; every call must make progress.
std::vector<uint8_t> read_whole(int handle, int step, int *calls)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(static_cast<size_t>(step));
    int64_t size = vnsmb1c_size(handle);
    *calls = 0;
    while (static_cast<int64_t>(out.size()) < size && *calls < 100000) {
        int n = vnsmb1c_read_at(handle, static_cast<int64_t>(out.size()), buf.data(), step);
        ++*calls;
        if (n <= 0) {
            ADD_FAILURE() << "read_at at " << out.size() << " gave " << n << ": " << vnsmb1c_last_error();
            break;
        }
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

std::vector<uint8_t> bytes_of(const std::string &s)
{
    return {s.begin(), s.end()};
}

std::vector<uint8_t> generated(int64_t id, uint64_t from, size_t n)
{
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; i++)
        out[i] = generated_byte(id, from + i);
    return out;
}

using Files = OnFakeServer;

TEST_P(Files, FilePathIsRelativeToTheFolder)
{
    struct Case {
        const char *path;
        const char *file;
    } cases[] = {
        {"Media", "Movies/hello.txt"},     {"Media/Movies", "hello.txt"}, {"\\Media\\Movies\\", "/hello.txt"},
        {"/media", "movies\\HELLO.TXT"}, {"Media/Movies/hello.txt", nullptr}, {"Media/Movies/hello.txt", ""},
    };
    for (const Case &c : cases) {
        int h = vnsmb1c_open(c.path, c.file);
        ASSERT_GT(h, 0) << c.path << " + " << (c.file ? c.file : "NULL") << ": " << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_size(h), 11);
        char buf[32] = {};
        ASSERT_EQ(vnsmb1c_read_at(h, 0, buf, sizeof buf), 11);
        EXPECT_STREQ(buf, "hello world");
    }
}

TEST_P(Files, OpenFailuresLeaveTheTableAlone)
{
    struct Case {
        const char *path;
        const char *file;
        int rc;
        const char *text;
    } cases[] = {
        {nullptr, "hello.txt", -6, "empty share name"},
        {"", "hello.txt", -6, "empty share name"},
        {"//", "hello.txt", -6, "the path does not name a share"},
        {"Media", nullptr, -6, "the path names the share Media, not a file in it"},
        {"Media", "", -6, "the path names the share Media, not a file in it"},
        {"Media/..", "x", -6, "\"..\" is not a valid name component"},
        {"Media", "Movies/.", -6, "\".\" is not a valid name component"},
        {"Media/Movies", "Sub/../hello.txt", -6, "\"..\" is not a valid name component"},
        {"Media", "Movies/nope.txt", -4, "OPEN FILE: OBJECT_NAME_NOT_FOUND"},
        {"Media", "Movies", -6, "OPEN FILE: Media/Movies is a folder, not a file: FILE_IS_A_DIRECTORY"},
        {"Media/Movies/", nullptr, -6, "OPEN FILE: Media/Movies is a folder, not a file: FILE_IS_A_DIRECTORY"},
        {"Media", "/", -6, "the path names the share Media, not a file in it"},
        {"Nope", "hello.txt", -4, "TREE_CONNECT Nope: BAD_NETWORK_NAME"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(vnsmb1c_open(c.path, c.file), c.rc) << (c.path ? c.path : "NULL") << " + " << (c.file ? c.file : "NULL");
        EXPECT_STREQ(vnsmb1c_last_error(), c.text);
    }
    EXPECT_EQ(vnb_default_session().open_files, 0u) << "no slot was taken";
    int h = vnsmb1c_open("Media", "Movies/hello.txt");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    EXPECT_EQ((h - 1) % 64, 0) << "the first slot is still free";
}

TEST_P(Files, ReadsClampAtEndOfFile)
{
    int h = vnsmb1c_open("Media/Movies", "hello.txt");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    char buf[64];
    struct Case {
        int64_t offset;
        int length;
        bool with_buffer;
        int rc;
        const char *data;  // the bytes read, or the error text when rc < 0
        bool asks_server;
    } cases[] = {
        {0, 4096, true, 11, "hello world", false},  // the first read: its bytes came with the open
        {6, 4096, true, 5, "world", true},
        {10, 1, true, 1, "d", true},
        {0, 5, true, 5, "hello", true},
        {11, 4096, true, 0, "", false},
        {1000, 10, true, 0, "", false},
        {INT64_MAX, 10, true, 0, "", false},
        {11, 0, false, 0, "", false},
        {0, 0, true, 0, "", false},
        {5, 0, false, 0, "", false},
        {-1, 10, true, -6, "bad offset, length or buffer", false},
        {0, -1, true, -6, "bad offset, length or buffer", false},
        {0, 5, false, -6, "bad offset, length or buffer", false},
        {INT64_MIN, 5, true, -6, "bad offset, length or buffer", false},
    };
    for (const Case &c : cases) {
        uint64_t frames = vnsmb1c_frame_count();
        std::memset(buf, 0, sizeof buf);
        int n = vnsmb1c_read_at(h, c.offset, c.with_buffer ? buf : nullptr, c.length);
        ASSERT_EQ(n, c.rc) << "offset " << c.offset << " length " << c.length << ": " << vnsmb1c_last_error();
        if (n < 0)
            EXPECT_STREQ(vnsmb1c_last_error(), c.data) << "offset " << c.offset;
        else
            EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), c.data) << "offset " << c.offset;
        EXPECT_EQ(vnsmb1c_frame_count() - frames, c.asks_server ? 1u : 0u) << "offset " << c.offset;
    }
}

TEST_P(Files, WholeFilesThroughReadAt)
{
    const std::vector<uint8_t> mkv = generated(kMkvId, 0, static_cast<size_t>(kMkvSize));
    struct Case {
        const char *path;
        const char *file;
        int step;
        std::vector<uint8_t> content;
        int calls;  // each call fills its buffer unless the file ends
    } cases[] = {
        {"Media/Movies", "a.mkv", 1 << 20, mkv, 1},
        {"Media/Movies", "a.mkv", 65536, mkv, 5},
        {"Media/Movies", "a.mkv", 4000, mkv, 75},
        {"Media", "Movies/hello.txt", 3, bytes_of("hello world"), 4},
        {"Music", "song.mp3", 100, bytes_of("la la la"), 1},
    };
    for (const Case &c : cases) {
        // The open's own READ counts too: the first bytes come with it.
        int64_t reads_before = vnsmb1c_fake_calls(kCmdRead);
        int h = vnsmb1c_open(c.path, c.file);
        ASSERT_GT(h, 0) << c.file << ": " << vnsmb1c_last_error();
        ASSERT_EQ(vnsmb1c_size(h), static_cast<int64_t>(c.content.size()));
        int calls = 0;
        std::vector<uint8_t> got = read_whole(h, c.step, &calls);
        EXPECT_TRUE(got == c.content) << c.file << " step " << c.step;
        EXPECT_EQ(calls, c.calls) << c.file << " step " << c.step;
        // Large reads and read-ahead: never more READs than the calls need
        // in large chunks.
        int64_t reads = vnsmb1c_fake_calls(kCmdRead) - reads_before;
        const int64_t per_call = (c.step + kLargeChunk - 1) / kLargeChunk;
        EXPECT_GE(reads, 1) << c.file << " step " << c.step;
        EXPECT_LE(reads, c.calls * per_call) << c.file << " step " << c.step;
        EXPECT_EQ(vnsmb1c_read_at(h, vnsmb1c_size(h), nullptr, 0), 0);
        vnsmb1c_close(h);
    }
}

TEST_P(Files, OffsetsBeyondFourGiB)
{
    int h = vnsmb1c_open("Media", "big.bin");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_size(h), kBigBinSize);
    uint8_t buf[4096];
    // The fake server serves an offset from its low 32 bits.
    struct Case {
        int64_t offset;
        int length;
        int rc;
    } cases[] = {
        {4 * kGiB + 100, 16, 16},
        {kBigBinSize - 10, 4096, 10},
        {kBigBinSize - 1, 1, 1},
        {kBigBinSize, 4096, 0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(vnsmb1c_read_at(h, c.offset, buf, c.length), c.rc) << c.offset << ": " << vnsmb1c_last_error();
        auto low = static_cast<uint64_t>(c.offset) & 0xFFFFFFFFu;
        EXPECT_TRUE(std::vector<uint8_t>(buf, buf + c.rc) == generated(kBigBinId, low, static_cast<size_t>(c.rc)))
            << c.offset;
    }
}

TEST_P(Files, SixtyFourHandles)
{
    std::set<int> slots;
    std::vector<int> handles;
    for (int i = 0; i < 64; i++) {
        int h = vnsmb1c_open("Media/Movies", "hello.txt");
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        handles.push_back(h);
        slots.insert((h - 1) % 64);
    }
    EXPECT_EQ(slots.size(), 64u) << "every slot in use once";
    // The fake server has 64 handles as well, so it refuses the 65th open first.
    EXPECT_EQ(vnsmb1c_open("Media/Movies", "hello.txt"), -4);
    EXPECT_STREQ(vnsmb1c_last_error(), "OPEN FILE: OBJECT_NAME_NOT_FOUND");
    EXPECT_EQ(vnb_default_session().open_files, 64u);

    vnsmb1c_close(handles[4]);
    EXPECT_EQ(vnb_default_session().open_files, 63u);
    EXPECT_EQ(vnsmb1c_size(handles[4]), -6);
    int again = vnsmb1c_open("Media", "Movies/a.mkv");
    ASSERT_GT(again, 0) << vnsmb1c_last_error();
    EXPECT_EQ((again - 1) % 64, (handles[4] - 1) % 64) << "the freed slot is taken again";
    EXPECT_NE(again, handles[4]) << "under a new number";
    EXPECT_EQ(vnsmb1c_size(again), kMkvSize);
    EXPECT_EQ(vnsmb1c_size(handles[4]), -6);
    EXPECT_EQ(vnsmb1c_size(handles[5]), 11);
}

// The table itself is full while the server could still open the file: the
// library closes the server's file again and fails with -7.
TEST_P(Files, FullTableIsALimit)
{
    for (int i = 1; i <= 64; i++)
        ASSERT_GT(vnsmb1c_open("Media/Movies", "hello.txt"), 0) << vnsmb1c_last_error();
    // Free one server handle behind the table's back.
    Session &s = vnb_default_session();
    ASSERT_EQ(vnb_do_close(s, s.files[0].tid, s.files[0].fid), 0);
    for (int attempt = 0; attempt < 2; attempt++) {
        int64_t closes = vnsmb1c_fake_calls(kCmdClose);
        EXPECT_EQ(vnsmb1c_open("Media/Movies", "hello.txt"), -7) << attempt;
        EXPECT_STREQ(vnsmb1c_last_error(), "too many open files (64)");
        EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose) - closes, 1) << "the server's file is closed again";
        EXPECT_EQ(vnb_default_session().open_files, 64u);
    }
}

TEST_P(Files, BadHandles)
{
    int open = vnsmb1c_open("Media/Movies", "hello.txt");
    int closed = vnsmb1c_open("Media/Movies", "hello.txt");
    ASSERT_GT(open, 0) << vnsmb1c_last_error();
    ASSERT_GT(closed, 0) << vnsmb1c_last_error();
    vnsmb1c_close(closed);
    char buf[8];
    // Out of range, the closed handle, the next generations of both slots, a
    // slot never handed out, and just past the largest handle.
    for (int h : {0, -1, INT_MAX, INT_MIN, closed, open + 64, closed + 64, (closed - 1) % 64 + 2, (1 << 30) + 1}) {
        int64_t closes = vnsmb1c_fake_calls(kCmdClose);
        EXPECT_EQ(vnsmb1c_size(h), -6) << h;
        EXPECT_STREQ(vnsmb1c_last_error(), "bad handle");
        EXPECT_EQ(vnsmb1c_read_at(h, 0, buf, sizeof buf), -6) << h;
        EXPECT_STREQ(vnsmb1c_last_error(), "bad handle");
        vnsmb1c_close(h);
        EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), closes) << "nothing to close for " << h;
    }
    EXPECT_EQ(vnsmb1c_size(open), 11) << "the other handle lives on";
}

TEST_P(Files, CloseReachesTheServerOnce)
{
    int h = vnsmb1c_open("Media/Movies", "hello.txt");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    int64_t closes = vnsmb1c_fake_calls(kCmdClose);
    vnsmb1c_close(h);
    vnsmb1c_close(h);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose) - closes, 1);
    EXPECT_EQ(vnb_default_session().open_files, 0u);
}

TEST_P(Files, HandlesDieWithTheSession)
{
    const int old[] = {vnsmb1c_open("Media/Movies", "hello.txt"), vnsmb1c_open("Media/Movies", "a.mkv")};
    ASSERT_GT(old[0], 0);
    ASSERT_GT(old[1], 0);
    vnsmb1c_disconnect();
    int64_t closes = vnsmb1c_fake_calls(kCmdClose);
    char buf[8];
    for (int h : old) {
        EXPECT_EQ(vnsmb1c_size(h), -6);
        EXPECT_EQ(vnsmb1c_read_at(h, 0, buf, sizeof buf), -6);
        EXPECT_STREQ(vnsmb1c_last_error(), "bad handle");
        vnsmb1c_close(h);
    }
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), closes);
    EXPECT_EQ(vnsmb1c_open("Media/Movies", "hello.txt"), -5);

    // A new session takes the same slots under new numbers: the old handles
    // stay bad instead of reaching the new session's files.
    ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    const int fresh[] = {vnsmb1c_open("Media/Movies", "a.mkv"), vnsmb1c_open("Media", "big.bin")};
    for (int i = 0; i < 2; i++) {
        ASSERT_GT(fresh[i], 0) << vnsmb1c_last_error();
        EXPECT_EQ((fresh[i] - 1) % 64, (old[i] - 1) % 64) << i;
        EXPECT_NE(fresh[i], old[i]) << i;
        EXPECT_EQ(vnsmb1c_size(old[i]), -6) << i;
        EXPECT_EQ(vnsmb1c_read_at(old[i], 0, buf, sizeof buf), -6) << i;
    }
    closes = vnsmb1c_fake_calls(kCmdClose);
    vnsmb1c_close(old[0]);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), closes) << "an old handle closes nothing";
    EXPECT_EQ(vnsmb1c_size(fresh[0]), kMkvSize);
    EXPECT_EQ(vnsmb1c_size(fresh[1]), kBigBinSize);
}

// A host that keeps a closed handle reads nothing through it, even when its
// slot holds another file now.
TEST_P(Files, StaleHandleNeverReachesTheNextFile)
{
    int stale = vnsmb1c_open("Media/Movies", "hello.txt");
    ASSERT_GT(stale, 0) << vnsmb1c_last_error();
    vnsmb1c_close(stale);
    int next = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(next, 0) << vnsmb1c_last_error();
    ASSERT_EQ((next - 1) % 64, (stale - 1) % 64) << "the same slot";
    EXPECT_NE(next, stale);
    char buf[8];
    int64_t reads = vnsmb1c_fake_calls(kCmdRead);
    int64_t closes = vnsmb1c_fake_calls(kCmdClose);
    EXPECT_EQ(vnsmb1c_size(stale), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "bad handle");
    EXPECT_EQ(vnsmb1c_read_at(stale, 0, buf, sizeof buf), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "bad handle");
    vnsmb1c_close(stale);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdRead), reads);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), closes);
    EXPECT_EQ(vnsmb1c_size(next), kMkvSize) << "the file now in the slot stays open";
}

// The generation wraps after 2^24 opens of a slot; the largest handle stays
// positive and the wrapped numbers are told apart.
TEST_P(Files, GenerationsWrapWithinRange)
{
    Session &s = vnb_default_session();
    s.files[63].opens = (uint32_t{1} << 24) - 1;
    for (int i = 0; i < 63; i++)
        ASSERT_GT(vnsmb1c_open("Media/Movies", "hello.txt"), 0) << vnsmb1c_last_error();
    int last = vnsmb1c_open("Media/Movies", "a.mkv");
    EXPECT_EQ(last, 1 << 30) << "slot 63 in its last generation";
    EXPECT_EQ(vnsmb1c_size(last), kMkvSize);
    vnsmb1c_close(last);
    int wrapped = vnsmb1c_open("Media/Movies", "a.mkv");
    EXPECT_EQ(wrapped, 64) << "slot 63 in generation 0";
    EXPECT_EQ(vnsmb1c_size(wrapped), kMkvSize);
    EXPECT_EQ(vnsmb1c_size(last), -6);
}

INSTANTIATE_TEST_SUITE_P(Roads, Files, ::testing::Values(Road::fake, Road::relay), road_name);

// ---- what goes on the wire ----

// Relays to the library's fake-backed HostIo and keeps the last request.
std::vector<uint8_t> g_last_request;

int spy_post(void *, const char *url, const char *body, const char *type, char **out_body, long *out_status,
             char **out_error)
{
    ByteBuffer b{};
    if (vnb_b64dec(body, &b) == 0)
        g_last_request.assign(b.data, b.data + b.len);
    vnb_buf_free(&b);
    const vnsmb1c_HostIo *io = vnsmb1c_io_fake();
    return io->http_post(io->context, url, body, type, out_body, out_status, out_error);
}

const vnsmb1c_HostIo kSpy{nullptr, nullptr, spy_post, nullptr};

uint32_t le(const std::vector<uint8_t> &m, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = (v << 8) | m.at(at + static_cast<size_t>(i));
    return v;
}

TEST(ReadRequest, OffsetAndCountOnTheWire)
{
    ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
    ASSERT_EQ(vnsmb1c_use_io(&kSpy), 0);
    ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    int text = vnsmb1c_open("Media/Movies", "hello.txt");
    int big = vnsmb1c_open("Media", "big.bin");
    ASSERT_GT(text, 0) << vnsmb1c_last_error();
    ASSERT_GT(big, 0) << vnsmb1c_last_error();
    std::vector<uint8_t> buf(1 << 20);
    // The first read of each handle is served by the bytes its open brought.
    ASSERT_EQ(vnsmb1c_read_at(text, 0, buf.data(), 1), 1);
    ASSERT_EQ(vnsmb1c_read_at(big, 0, buf.data(), 1), 1);
    struct Case {
        const char *what;
        int handle;
        int64_t offset;
        int length;
        uint32_t count;  // MaxCount and MinCount asked for, MaxCountHigh above 64 KiB
    } cases[] = {
        {"clamped to the end of the file", text, 1, 4096, 10},
        {"last 10 bytes of a large file", big, kBigBinSize - 10, 4096, 10},
        {"a whole chunk in one large read", big, 0, kLargeChunk, kLargeChunk},
        {"just above 64 KiB", big, 3, 65537, 65537},
        {"at 4 GiB and a bit", big, 4 * kGiB + 100, 16, 16},
        {"offset with all bits of the low word", big, 5 * kGiB - 65536 - 1, 7, 7},
    };
    for (const Case &c : cases) {
        g_last_request.clear();
        ASSERT_EQ(vnsmb1c_read_at(c.handle, c.offset, buf.data(), c.length), static_cast<int>(c.count)) << c.what;
        const std::vector<uint8_t> &m = g_last_request;
        ASSERT_GE(m.size(), 57u) << c.what;
        EXPECT_EQ(m[4], kCmdRead) << c.what;
        EXPECT_EQ(m[32], 12) << c.what;
        EXPECT_EQ(le(m, 39, 4), static_cast<uint32_t>(c.offset)) << c.what << ": Offset";
        EXPECT_EQ(le(m, 53, 4), static_cast<uint32_t>(static_cast<uint64_t>(c.offset) >> 32)) << c.what
                                                                                              << ": OffsetHigh";
        EXPECT_EQ(le(m, 43, 2), c.count & 0xFFFF) << c.what << ": MaxCount";
        EXPECT_EQ(le(m, 45, 2), c.count & 0xFFFF) << c.what << ": MinCount";
        EXPECT_EQ(le(m, 47, 2), c.count >> 16) << c.what << ": MaxCountHigh";
    }
    vnsmb1c_use_sockets();
}

}  // namespace
