// TREE_CONNECT_ANDX and its cache, NT_CREATE_ANDX, READ_ANDX and CLOSE:
// request layouts and reply checks against scripted replies, then the same
// commands against the fake server.
#include <functional>
#include <string>

#include "fake/fake.h"
#include "net/net.h"
#include "sess/sess_sign.h"
#include "sess/support/sess_fixture.h"
#include "sess/tree_file.h"
#include "util/status.h"
#include "util/text.h"

namespace {

using sp::Bytes;
using sp::get16;
using sp::get32;
using sp::put16;
using sp::put32;
using sp::put64;
using sp::put8;

constexpr uint64_t kGiB = 1ULL << 30;

void set16(Bytes &b, size_t off, uint32_t v)
{
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}

uint64_t get64(const Bytes &b, size_t off)
{
    return get32(b, off) | (uint64_t{get32(b, off + 4)} << 32);
}

Bytes ascii_z(const std::string &s)
{
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

// UTF-8 to UTF-16LE, no terminator.
Bytes wide(const std::string &s)
{
    Bytes out(2 * s.size() + 2);
    int32_t n = 0;
    EXPECT_EQ(vnb_utf8_to_utf16le(s.c_str(), out.data(), static_cast<int32_t>(out.size()), &n), 0);
    out.resize(static_cast<size_t>(n));
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        sp::append(out, p);
    return out;
}

// The data block of a request: everything after ByteCount.
Bytes request_bytes(const Bytes &req)
{
    size_t at = 33 + 2 * size_t{req[32]} + 2;
    return Bytes(req.begin() + static_cast<std::ptrdiff_t>(at), req.end());
}

// TREE_CONNECT reply assigning tid: the extended form (WordCount 7) or the
// plain one (WordCount 3).
Bytes tree_reply(const Bytes &req, uint16_t tid, bool extended = true)
{
    Bytes words{0xFF, 0, 0, 0};
    put16(words, 1);  // OptionalSupport
    if (extended) {
        put32(words, 0x001200A9);
        put32(words, 0x001200A9);
    }
    Bytes r = sp::reply_to(req, 0, words, cat({ascii_z("A:"), sp::utf16("NTFS"), Bytes{0, 0}}));
    set16(r, 24, tid);
    return r;
}

Bytes create_reply(const Bytes &req, uint16_t fid, uint64_t last_write, uint64_t eof, size_t word_count = 34)
{
    Bytes w{0xFF, 0, 0, 0};
    put8(w, 0);  // OplockLevel
    put16(w, fid);
    put32(w, 1);  // CreateAction
    put64(w, last_write - 10);  // CreationTime
    put64(w, last_write - 5);   // LastAccessTime
    put64(w, last_write);
    put64(w, last_write + 5);   // ChangeTime
    put32(w, 0x20);
    put64(w, 65536);
    put64(w, eof);
    put16(w, 0);
    put16(w, 0);
    put8(w, 0);
    w.resize(2 * word_count, 0);
    return sp::reply_to(req, 0, w);
}

// READ_ANDX reply carrying data after one pad byte (DataOffset 60).
Bytes read_reply(const Bytes &req, const Bytes &data)
{
    Bytes w{0xFF, 0, 0, 0};
    put16(w, 0);  // Available
    put16(w, 0);  // DataCompactionMode
    put16(w, 0);
    put16(w, static_cast<uint32_t>(data.size()));
    put16(w, 60);
    put16(w, 0);  // DataLengthHigh
    put64(w, 0);
    return sp::reply_to(req, 0, w, cat({Bytes{0}, data}));
}

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = static_cast<uint8_t>(seed + 3 * i);
    return b;
}

class TreeFile : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        s.max_buffer = 16644;
    }
    // Every request gets the one reply `make` builds.
    void answer(std::function<Bytes(const Bytes &)> make)
    {
        peer.respond = [make](const Bytes &req) { return std::vector<Bytes>{make(req)}; };
    }
    void free_trees()
    {
        for (TreeSlot &t : s.trees)
            t.in_use = 0;
    }
    int used_trees() const
    {
        int n = 0;
        for (const TreeSlot &t : s.trees)
            n += t.in_use ? 1 : 0;
        return n;
    }
};

// ---- TREE_CONNECT ----

TEST_F(TreeFile, ConnectsAShareOnceAndFindsItAgainIgnoringCase)
{
    answer([](const Bytes &req) { return tree_reply(req, 7); });
    uint32_t tid = 0;
    ASSERT_EQ(vnb_tree_find_or_connect(s, "Media", &tid), 0) << vnb_error();
    EXPECT_EQ(tid, 7u);
    tid = 0;
    ASSERT_EQ(vnb_tree_find_or_connect(s, "MEDIA", &tid), 0);
    EXPECT_EQ(tid, 7u);
    ASSERT_EQ(peer.requests.size(), 1u);
    EXPECT_EQ(vnb_tree_find_or_connect(s, "media", nullptr), 0);
    EXPECT_EQ(peer.requests.size(), 1u);

    const Bytes &req = peer.requests[0];
    EXPECT_EQ(req[4], 0x75);
    EXPECT_EQ(sp::tid_of(req), 0);
    EXPECT_EQ(req[32], 4);                         // WordCount
    EXPECT_EQ(Bytes(req.begin() + 33, req.begin() + 37), (Bytes{0xFF, 0, 0, 0}));
    EXPECT_EQ(get16(req, 37), 0x0008);            // Flags: extended response only
    EXPECT_EQ(get16(req, 39), 1);                 // PasswordLength
    // The share part goes upper-cased; the slot keeps the name as given.
    EXPECT_EQ(request_bytes(req), cat({Bytes{0}, sp::utf16("\\\\peer\\MEDIA"), Bytes{0, 0}, ascii_z("A:")}));
    EXPECT_EQ(get16(req, 41), request_bytes(req).size());
    EXPECT_EQ(used_trees(), 1);
    EXPECT_STREQ(s.trees[0].name, "Media");
}

TEST_F(TreeFile, RequestFollowsTheUnicodeBitAndTheIpcService)
{
    struct Case {
        uint32_t flags2;
        const char *share;
        uint16_t flags;
        Bytes path;
        const char *service;
    } cases[] = {
        {0, "ipc$", 0x0008, cat({sp::utf16("\\\\peer\\IPC$"), Bytes{0, 0}}), "IPC"},
        {0xC801, "Music", 0x0008, cat({sp::utf16("\\\\peer\\MUSIC"), Bytes{0, 0}}), "A:"},
        {0x4801, "mUsic_1", 0, ascii_z("\\\\peer\\MUSIC_1"), "A:"},
        {0x4801, "IPC$", 0, ascii_z("\\\\peer\\IPC$"), "IPC"},
    };
    answer([](const Bytes &req) { return tree_reply(req, 9); });
    for (const Case &c : cases) {
        SCOPED_TRACE(c.share);
        free_trees();
        peer.requests.clear();
        s.flags2 = c.flags2;
        ASSERT_EQ(vnb_tree_find_or_connect(s, c.share, nullptr), 0) << vnb_error();
        ASSERT_EQ(peer.requests.size(), 1u);
        const Bytes &req = peer.requests[0];
        EXPECT_EQ(get16(req, 37), c.flags);
        EXPECT_EQ(request_bytes(req), cat({Bytes{0}, c.path, ascii_z(c.service)}));
    }
}

TEST_F(TreeFile, PlainAndExtendedRepliesBothGiveTheHeaderTid)
{
    for (bool extended : {true, false}) {
        free_trees();
        answer([extended](const Bytes &req) { return tree_reply(req, 0x0C01, extended); });
        uint32_t tid = 0;
        ASSERT_EQ(vnb_tree_find_or_connect(s, "Media", &tid), 0) << vnb_error();
        EXPECT_EQ(tid, 0x0C01u) << extended;
    }
}

// Eight slots; a ninth share takes the place of the tree used least
// recently, unless files are open on it.
TEST_F(TreeFile, TheLeastRecentlyUsedTreeMakesRoom)
{
    uint16_t next = 1;
    answer([&next](const Bytes &req) { return req[4] == 0x75 ? tree_reply(req, next++) : sp::reply_to(req, 0); });
    for (int i = 0; i < 8; i++)
        ASSERT_EQ(vnb_tree_find_or_connect(s, ("share" + std::to_string(i)).c_str(), nullptr), 0) << i;
    ASSERT_EQ(vnb_tree_find_or_connect(s, "SHARE0", nullptr), 0);  // known ones are found, and count as used
    ASSERT_EQ(peer.requests.size(), 8u);

    uint32_t tid = 0;
    ASSERT_EQ(vnb_tree_find_or_connect(s, "share8", &tid), 0) << vnb_error();
    EXPECT_EQ(tid, 9u);
    ASSERT_EQ(peer.requests.size(), 10u);
    EXPECT_EQ(peer.requests[8][4], 0x71);  // TREE_DISCONNECT of share1, the oldest
    EXPECT_EQ(sp::tid_of(peer.requests[8]), 2);
    EXPECT_EQ(used_trees(), 8);

    // A tree with a file open stays: share2 has one, share3 goes.
    s.files[0].in_use = 1;
    s.files[0].tid = 3;
    ASSERT_EQ(vnb_tree_find_or_connect(s, "share9", nullptr), 0) << vnb_error();
    EXPECT_EQ(sp::tid_of(peer.requests[10]), 4);

    // Any number of shares in turn: never out of slots.
    for (int i = 0; i < 40; i++)
        ASSERT_EQ(vnb_tree_find_or_connect(s, ("other" + std::to_string(i)).c_str(), nullptr), 0) << i;
    EXPECT_EQ(used_trees(), 8);

    // Files open on every tree: nothing can be let go.
    for (int i = 0; i < kMaxTrees; i++) {
        s.files[i].in_use = 1;
        s.files[i].tid = s.trees[i].tid;
    }
    size_t sent = peer.requests.size();
    EXPECT_EQ(vnb_tree_find_or_connect(s, "last", nullptr), -7);
    EXPECT_STREQ(vnb_error(), "files are open on all 8 trees of the session");
    EXPECT_EQ(peer.requests.size(), sent);
    for (int i = 0; i < kMaxTrees; i++)
        s.files[i].in_use = 0;
}

// A share name that is not UTF-8 is the caller's mistake, not a lack of memory.
TEST_F(TreeFile, AShareNameThatIsNotTextIsAnInvalidArgument)
{
    answer([](const Bytes &req) { return tree_reply(req, 1); });
    EXPECT_EQ(vnb_tree_find_or_connect(s, "\xff", nullptr), -6);
    EXPECT_STREQ(vnb_error(), "the share or host name is not valid UTF-8");
    EXPECT_EQ(peer.requests.size(), 0u);
    EXPECT_EQ(used_trees(), 0);
}

TEST_F(TreeFile, UncPathIsCutTo103BytesOnACharacterBoundary)
{
    const std::string h96(96, 'h');
    struct Case {
        std::string host;
        const char *share;
        std::string path;
    } cases[] = {
        {std::string(120, 'h'), "IPC$", "\\\\" + h96 + "\\IPC$"},
        {std::string(120, 'h'), "Media", "\\\\" + h96 + "\\MEDI"},
        // The host part goes as given, only ASCII letters of the share change.
        {"PeEr.local", "caf\xC3\xA9s", "\\\\PeEr.local\\CAF\xC3\xA9S"},
        // A two-byte character across the host's 96-byte cut goes whole.
        {std::string(95, 'h') + "\xC3\xA9" + "x", "IPC$", "\\\\" + std::string(95, 'h') + "\\IPC$"},
        // ... and so does one across the 103-byte cut of the whole path.
        {std::string(92, 'h'), "Mu\xC3\xA9sic\xC3\xA9", "\\\\" + std::string(92, 'h') + "\\MU\xC3\xA9SIC"},
    };
    answer([](const Bytes &req) { return tree_reply(req, 3); });
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        free_trees();
        peer.requests.clear();
        std::snprintf(s.host, sizeof s.host, "%s", c.host.c_str());
        ASSERT_EQ(vnb_tree_find_or_connect(s, c.share, nullptr), 0) << vnb_error();
        ASSERT_EQ(peer.requests.size(), 1u);
        EXPECT_LE(c.path.size(), 103u);
        std::string service = c.path.ends_with("IPC$") ? "IPC" : "A:";
        EXPECT_EQ(request_bytes(peer.requests[0]),
                  cat({Bytes{0}, wide(c.path), Bytes{0, 0}, ascii_z(service)}));
    }
}

TEST_F(TreeFile, FailuresLeaveEveryTreeSlotFree)
{
    struct Case {
        const char *what;
        const char *share;
        std::function<Bytes(const Bytes &)> reply;
        int32_t rc;
        const char *text;
        size_t requests;
    } cases[] = {
        {"status", "Media", [](const Bytes &req) { return sp::reply_to(req, STATUS_BAD_NETWORK_NAME); }, -4,
         "TREE_CONNECT Media: BAD_NETWORK_NAME", 1},
        {"no tid", "Media", [](const Bytes &req) { return tree_reply(req, 0); }, -2,
         "TREE_CONNECT did not assign a Tid", 1},
        {"empty", "", nullptr, -6, "empty share name", 0},
        {"null", nullptr, nullptr, -6, "empty share name", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        peer.requests.clear();
        answer(c.reply ? c.reply : [](const Bytes &req) { return tree_reply(req, 1); });
        EXPECT_EQ(vnb_tree_find_or_connect(s, c.share, nullptr), c.rc);
        EXPECT_STREQ(vnb_error(), c.text);
        EXPECT_EQ(peer.requests.size(), c.requests);
        EXPECT_EQ(used_trees(), 0);
    }
    EXPECT_EQ(s.last_status, STATUS_BAD_NETWORK_NAME);  // recorded by the first case only
    EXPECT_EQ(s.last_code, -4);
}

// ---- NT_CREATE ----

TEST_F(TreeFile, OpenRequestLayout)
{
    // The name follows the session's string form: UTF-16LE after a pad byte
    // (even offset 84), or the code page (CP850) right after the words for a server
    // without Unicode.
    const Bytes oem_name{'M', 'o', 'v', 'i', 'e', 's', '\\', 0x82, 't', 0x82};  // CP850
    struct Case {
        uint32_t flags2;
        const char *path;
        int folder;
        Bytes name;  // without terminator
    } cases[] = {
        {0xC801, "Movies/a b.mkv", 0, sp::utf16("Movies\\a b.mkv")},
        {0xC801, "Movies\\Old", 1, sp::utf16("Movies\\Old")},
        {0xC801, "\xC3\xA9t\xC3\xA9", 0, Bytes{0xE9, 0, 't', 0, 0xE9, 0}},
        {0xC801, "", 1, {}},
        {0xC801, nullptr, 1, {}},
        {0x4001, "Movies/\xC3\xA9t\xC3\xA9", 0, oem_name},
        {0x4001, "", 1, {}},
    };
    answer([](const Bytes &req) { return create_reply(req, 0x4001, 0, 10); });
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        s.flags2 = c.flags2;
        bool unicode = c.flags2 & 0x8000;
        peer.requests.clear();
        ASSERT_EQ(vnb_create_file(s, 0x0803, c.path, c.folder, nullptr, nullptr, nullptr, "OPEN X"), 0) << vnb_error();
        ASSERT_EQ(peer.requests.size(), 1u);
        const Bytes &req = peer.requests[0];
        EXPECT_EQ(req[4], 0xA2);
        EXPECT_EQ(sp::get16(req, 10), c.flags2);
        EXPECT_EQ(sp::tid_of(req), 0x0803);
        ASSERT_EQ(req[32], 24);
        EXPECT_EQ(req[33], 0xFF);
        size_t terminator = unicode ? 2 : 1;
        EXPECT_EQ(get16(req, 38), c.name.empty() ? 0u : c.name.size() + terminator);  // NameLength
        EXPECT_EQ(get32(req, 40), 0u);          // Flags
        EXPECT_EQ(get32(req, 48), 0x89u);       // DesiredAccess
        EXPECT_EQ(get64(req, 52), 0u);          // AllocationSize
        EXPECT_EQ(get32(req, 64), 7u);          // ShareAccess
        EXPECT_EQ(get32(req, 68), 1u);          // CreateDisposition: open
        // CreateOptions: FILE_DIRECTORY_FILE or FILE_NON_DIRECTORY_FILE
        EXPECT_EQ(get32(req, 72), c.folder ? 0x01u : 0x40u);
        EXPECT_EQ(get32(req, 76), 2u);          // ImpersonationLevel
        EXPECT_EQ(req[80], 3);                  // SecurityFlags
        if (unicode) {
            EXPECT_EQ(request_bytes(req), cat({Bytes{0}, c.name, Bytes{0, 0}}));
        } else {
            EXPECT_EQ(request_bytes(req), cat({c.name, Bytes{0}}));
        }
    }

    // A name a server without Unicode cannot be sent never leaves.
    s.flags2 = 0x4001;
    peer.requests.clear();
    EXPECT_EQ(vnb_create_file(s, 1, "\xE6\x97\xA5.mkv", 0, nullptr, nullptr, nullptr, "OPEN FILE"), -8);
    EXPECT_STREQ(vnb_error(),
                 "OPEN FILE \xE6\x97\xA5.mkv: the name cannot be written in code page CP850 (the server has no Unicode)");
    EXPECT_TRUE(peer.requests.empty());
}

TEST_F(TreeFile, OpenReadsFidSizeAndModificationTime)
{
    struct Case {
        uint64_t last_write;
        int64_t mtime_ms;
    } cases[] = {
        {116444736000000000ULL, 0},
        {0, -1},
        {116444736009999999ULL, 0},             // whole seconds
        {133000000000000000ULL, 1655526400000},
        {116444735990000000ULL, -1000},         // before 1970
    };
    for (const Case &c : cases) {
        answer([&c](const Bytes &req) { return create_reply(req, 0xBEEF, c.last_write, 5 * kGiB + 3); });
        uint32_t fid = 0;
        uint64_t size = 0;
        int64_t mtime = 7;
        ASSERT_EQ(vnb_create_file(s, 1, "a", 0, &fid, &size, &mtime, "OPEN FILE"), 0) << vnb_error();
        EXPECT_EQ(fid, 0xBEEFu);
        EXPECT_EQ(size, 5 * kGiB + 3);
        EXPECT_EQ(mtime, c.mtime_ms) << c.last_write;
    }
    // A longer (extended) reply is read the same way.
    answer([](const Bytes &req) { return create_reply(req, 0x0042, 116444736000000000ULL, 9, 42); });
    uint32_t fid = 0;
    ASSERT_EQ(vnb_create_file(s, 1, "a", 0, &fid, nullptr, nullptr, "OPEN FILE"), 0);
    EXPECT_EQ(fid, 0x42u);
}

TEST_F(TreeFile, OpenFailures)
{
    struct Case {
        const char *what;
        std::function<std::vector<Bytes>(const Bytes &)> respond;
        int32_t rc;
        const char *text;
        uint32_t last_status;  // 0xDEAD: left as it was
    } cases[] = {
        {"status", [](const Bytes &req) { return std::vector<Bytes>{sp::reply_to(req, STATUS_OBJECT_NAME_NOT_FOUND)}; },
         -4, "OPEN FILE: OBJECT_NAME_NOT_FOUND", STATUS_OBJECT_NAME_NOT_FOUND},
        {"word count",
         [](const Bytes &req) {
             Bytes r = create_reply(req, 1, 0, 0);
             Bytes words(r.begin() + 33, r.begin() + 33 + 66);
             return std::vector<Bytes>{sp::reply_to(req, 0, words)};
         },
         -2, "NT_CREATE reply WordCount 33 (34 expected)", 0xDEAD},
        {"cut words",
         [](const Bytes &req) {
             Bytes r = create_reply(req, 1, 0, 0);
             r.resize(90);
             return std::vector<Bytes>{r};
         },
         -2, "NT_CREATE reply words lie outside the frame", 0xDEAD},
        {"size beyond 2^63", [](const Bytes &req) { return std::vector<Bytes>{create_reply(req, 1, 0, ~0ULL - 1)}; },
         -2, "NT_CREATE reply gives a size of 18446744073709551614 bytes", 0xDEAD},
        // The exchange fails on the MID; the status of the reply it read is
        // recorded all the same.
        {"other mid",
         [](const Bytes &req) {
             Bytes r = sp::reply_to(req, STATUS_ACCESS_DENIED);
             set16(r, 30, sp::mid_of(req) + 1);
             return std::vector<Bytes>{r};
         },
         -2, nullptr, STATUS_ACCESS_DENIED},
        // Nothing parsed: status 0 is recorded.
        {"no reply", [](const Bytes &) { return std::vector<Bytes>{}; }, -1, nullptr, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        peer.respond = c.respond;
        s.last_status = 0xDEAD;
        uint32_t fid = 77;
        EXPECT_EQ(vnb_create_file(s, 1, "a.mkv", 0, &fid, nullptr, nullptr, "OPEN FILE"), c.rc);
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text);
        }
        EXPECT_EQ(fid, 77u);
        EXPECT_EQ(s.last_status, c.last_status);
    }
}

TEST_F(TreeFile, OpenTraceLineShowsTheReply)
{
    answer([](const Bytes &req) { return create_reply(req, 0x1234, 0, 0); });
    sp::TraceOn trace;
    testing::internal::CaptureStderr();
    ASSERT_EQ(vnb_create_file(s, 1, "a", 0, nullptr, nullptr, nullptr, "OPEN FILE"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    // UID, MID, WordCount 0x22, AndX FF 00 00 00, OplockLevel, FID 34 12 ...
    EXPECT_EQ(err.rfind("[cr] wc=34 hdr:", 0), 0u) << err;
    EXPECT_NE(err.find(" 22 ff 00 00 00 00 34 12"), std::string::npos) << err;
    EXPECT_NE(err.find(" | ff 00 00 00 00 34 12"), std::string::npos) << err;
    EXPECT_EQ(err.back(), '\n');
}

// ---- READ ----

TEST_F(TreeFile, ReadBeyond4GiBSendsOffsetHigh)
{
    const Bytes data = pattern(100, 5);
    answer([&data](const Bytes &req) { return read_reply(req, data); });
    Bytes buf(200, 0xEE);
    ASSERT_EQ(vnb_do_read(s, 0x0801, 0x4003, 5 * kGiB + 0x1234, buf.data(), 200), 100) << vnb_error();
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 100), data);
    EXPECT_EQ(buf[100], 0xEE);

    ASSERT_EQ(peer.requests.size(), 1u);
    const Bytes &req = peer.requests[0];
    EXPECT_EQ(req[4], 0x2E);
    EXPECT_EQ(sp::tid_of(req), 0x0801);
    ASSERT_EQ(req[32], 12);
    EXPECT_EQ(req[33], 0xFF);
    EXPECT_EQ(get16(req, 37), 0x4003);          // FID
    EXPECT_EQ(get32(req, 39), 0x40001234u);     // Offset: low 32 bits of 5 GiB + 0x1234
    EXPECT_EQ(get16(req, 43), 200);             // MaxCountOfBytesToReturn
    EXPECT_EQ(get16(req, 45), 200);             // MinCountOfBytesToReturn
    EXPECT_EQ(get32(req, 47), 0u);              // Timeout
    EXPECT_EQ(get16(req, 51), 0);               // Remaining
    EXPECT_EQ(get32(req, 53), 1u);              // OffsetHigh
    EXPECT_EQ(get16(req, 57), 0);               // ByteCount
}

TEST_F(TreeFile, ReadChunkFollowsTheServerBuffer)
{
    struct Case {
        uint32_t max_buffer;
        int32_t capacity;
        uint32_t chunk;
        uint32_t asked;
    } cases[] = {
        {16644, 1 << 20, 16580, 16580}, {4356, 1 << 20, 4292, 4292},   {70000, 1 << 20, 65280, 65280},
        {65344, 1 << 20, 65280, 65280}, {65343, 1 << 20, 65279, 65279}, {64, 1 << 20, 4096, 4096},
        {0, 1 << 20, 4096, 4096},       {16644, 100, 16580, 100},       {65, 1 << 20, 1, 1},
    };
    answer([](const Bytes &req) { return read_reply(req, pattern(get16(req, 43), 1)); });
    Bytes buf(1 << 20);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.max_buffer);
        peer.requests.clear();
        s.max_buffer = c.max_buffer;
        EXPECT_EQ(read_chunk_size(s), c.chunk);
        EXPECT_EQ(vnb_do_read(s, 1, 2, 0, buf.data(), c.capacity), static_cast<int32_t>(c.asked)) << vnb_error();
        ASSERT_EQ(peer.requests.size(), 1u);
        EXPECT_EQ(get16(peer.requests[0], 43), c.asked);
    }
    for (int32_t capacity : {0, -1}) {
        peer.requests.clear();
        EXPECT_EQ(vnb_do_read(s, 1, 2, 0, buf.data(), capacity), -6);
        EXPECT_STREQ(vnb_error(), "read length must be positive");
        EXPECT_TRUE(peer.requests.empty());
    }
}

TEST_F(TreeFile, HostileReadRepliesFail)
{
    // Each case changes a good 100-byte reply to a 100-byte request.
    struct Case {
        const char *what;
        std::function<void(Bytes &)> spoil;
        int32_t rc;
        const char *text;
    } cases[] = {
        {"word count 11", [](Bytes &r) { r[32] = 11; }, -2, "READ reply WordCount 11"},
        {"words cut", [](Bytes &r) { r.resize(50); }, -2, "READ reply words lie outside the frame"},
        {"offset 0", [](Bytes &r) { set16(r, 45, 0); }, -2, "READ reply data lies outside the frame"},
        {"offset in the words", [](Bytes &r) { set16(r, 45, 40); }, -2, "READ reply data lies outside the frame"},
        {"one byte beyond", [](Bytes &r) { set16(r, 45, 61); }, -2, "READ reply data lies outside the frame"},
        {"offset 0xFFFF", [](Bytes &r) { set16(r, 45, 0xFFFF); }, -2, "READ reply data lies outside the frame"},
        {"data cut", [](Bytes &r) { r.pop_back(); }, -2, "READ reply data lies outside the frame"},
        {"more than asked", [](Bytes &r) { set16(r, 43, 101); }, -2, "READ reply carries 101 bytes for 100 asked"},
        {"far more than asked", [](Bytes &r) { set16(r, 43, 0xFFFF); }, -2,
         "READ reply carries 65535 bytes for 100 asked"},
        {"exact fit", [](Bytes &) {}, 100, nullptr},
        {"fewer", [](Bytes &r) { set16(r, 43, 40); }, 40, nullptr},
        {"none", [](Bytes &r) { set16(r, 43, 0); set16(r, 45, 0); }, 0, nullptr},
    };
    const Bytes data = pattern(100, 9);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        answer([&c, &data](const Bytes &req) {
            Bytes r = read_reply(req, data);
            c.spoil(r);
            return r;
        });
        Bytes buf(100, 0);
        vnb_set_error("untouched");
        EXPECT_EQ(vnb_do_read(s, 1, 2, 0, buf.data(), 100), c.rc);
        EXPECT_STREQ(vnb_error(), c.text ? c.text : "untouched");
        if (c.rc > 0) {
            EXPECT_EQ(Bytes(buf.begin(), buf.begin() + c.rc), Bytes(data.begin(), data.begin() + c.rc));
        }
    }
}

TEST_F(TreeFile, ReadStatuses)
{
    answer([](const Bytes &req) { return sp::reply_to(req, STATUS_END_OF_FILE); });
    Bytes buf(10);
    EXPECT_EQ(vnb_do_read(s, 1, 2, 1000, buf.data(), 10), 0);
    EXPECT_EQ(s.last_status, STATUS_END_OF_FILE);
    EXPECT_EQ(s.last_code, 0);

    answer([](const Bytes &req) { return sp::reply_to(req, STATUS_ACCESS_DENIED); });
    EXPECT_EQ(vnb_do_read(s, 1, 2, 0, buf.data(), 10), -3);
    EXPECT_STREQ(vnb_error(), "READ: ACCESS_DENIED");
    EXPECT_EQ(s.last_status, STATUS_ACCESS_DENIED);

    // No destination: the bytes are counted, not copied.
    answer([](const Bytes &req) { return read_reply(req, pattern(10, 0)); });
    EXPECT_EQ(vnb_do_read(s, 1, 2, 0, nullptr, 10), 10);
}

// ---- CLOSE ----

TEST_F(TreeFile, CloseSendsTheFidAndLeavesTheTime)
{
    answer([](const Bytes &req) { return sp::reply_to(req, 0); });
    ASSERT_EQ(vnb_do_close(s, 0x0805, 0xA001), 0);
    ASSERT_EQ(peer.requests.size(), 1u);
    const Bytes &req = peer.requests[0];
    EXPECT_EQ(req[4], 0x04);
    EXPECT_EQ(sp::tid_of(req), 0x0805);
    ASSERT_EQ(req[32], 3);
    EXPECT_EQ(get16(req, 33), 0xA001);
    EXPECT_EQ(get32(req, 35), 0xFFFFFFFFu);
    EXPECT_EQ(get16(req, 39), 0);

    answer([](const Bytes &req) { return sp::reply_to(req, STATUS_INVALID_HANDLE); });
    EXPECT_EQ(vnb_do_close(s, 1, 2), -5);
    EXPECT_STREQ(vnb_error(), "CLOSE: INVALID_HANDLE");
}

// ---- against the fake server ----

class FakeFiles : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        ASSERT_EQ(vnb_fake_load(R"({"shares":[{"name":"Media","root":[
            {"name":"Movies","children":[
                {"name":"big.mkv","size":5368709220,"mtime":1600000000},
                {"name":"note.txt","text":"hello, world"}]}]}],
            "users":[{"name":"alice","pass":"pw"}]})"),
                  0);
        identity("", "alice", "pw");
        std::snprintf(s.host, sizeof s.host, "fake");
        sess_reset(s);
        s.transport = sp::fake_transport();
    }
    void TearDown() override
    {
        SessTest::TearDown();
        vnb_fake_load(nullptr);
    }
    void logon()
    {
        ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
        ASSERT_EQ(vnb_tree_find_or_connect(s, "media", &tid), 0) << vnb_error();
    }
    uint32_t tid = 0;
};

TEST_F(FakeFiles, TreesFilesAndFolders)
{
    logon();
    EXPECT_EQ(s.flags2 & 0x8000, 0x8000u);
    uint32_t ipc = 0;
    ASSERT_EQ(vnb_tree_find_or_connect(s, "IPC$", &ipc), 0) << vnb_error();
    EXPECT_NE(ipc, tid);
    EXPECT_EQ(vnb_tree_find_or_connect(s, "Nope", nullptr), -4);
    EXPECT_STREQ(vnb_error(), "TREE_CONNECT Nope: BAD_NETWORK_NAME");

    uint32_t fid = 0;
    uint64_t size = 0;
    int64_t mtime = 0;
    ASSERT_EQ(vnb_create_file(s, tid, "Movies/big.mkv", 0, &fid, &size, &mtime, "OPEN FILE"), 0) << vnb_error();
    EXPECT_EQ(size, 5368709220u);
    EXPECT_EQ(mtime, 1600000000000);
    EXPECT_EQ(vnb_do_close(s, tid, fid), 0) << vnb_error();
    EXPECT_EQ(vnb_do_close(s, tid, fid), -5);  // closed already
    EXPECT_STREQ(vnb_error(), "CLOSE: INVALID_HANDLE");

    ASSERT_EQ(vnb_create_file(s, tid, "Movies", 1, &fid, nullptr, nullptr, "OPEN DIR"), 0) << vnb_error();
    EXPECT_EQ(vnb_do_close(s, tid, fid), 0);
    ASSERT_EQ(vnb_create_file(s, tid, "", 1, &fid, nullptr, nullptr, "OPEN DIR"), 0) << vnb_error();
    EXPECT_EQ(vnb_do_close(s, tid, fid), 0);
    EXPECT_EQ(vnb_create_file(s, tid, "Movies", 0, &fid, nullptr, nullptr, "OPEN FILE"), -6);
    EXPECT_STREQ(vnb_error(), "OPEN FILE: FILE_IS_A_DIRECTORY");
    EXPECT_EQ(vnb_create_file(s, tid, "Movies/none", 0, &fid, nullptr, nullptr, "OPEN FILE"), -4);
    EXPECT_STREQ(vnb_error(), "OPEN FILE: OBJECT_NAME_NOT_FOUND");

    ASSERT_EQ(vnb_create_file(s, ipc, "\\srvsvc", 0, &fid, nullptr, nullptr, "OPEN srvsvc"), 0) << vnb_error();
    EXPECT_EQ(vnb_do_close(s, ipc, fid), 0);
}

TEST_F(FakeFiles, ReadsAtSmallAndLargeOffsets)
{
    logon();
    uint32_t fid = 0;
    ASSERT_EQ(vnb_create_file(s, tid, "Movies\\note.txt", 0, &fid, nullptr, nullptr, "OPEN FILE"), 0) << vnb_error();
    char text[64] = {};
    EXPECT_EQ(vnb_do_read(s, tid, fid, 7, reinterpret_cast<uint8_t *>(text), 63), 5);
    EXPECT_STREQ(text, "world");
    EXPECT_EQ(vnb_do_read(s, tid, fid, 12, reinterpret_cast<uint8_t *>(text), 63), 0);

    // 100 bytes are left after 5 GiB: a server that lost OffsetHigh would
    // read at 1 GiB and send a full chunk.
    ASSERT_EQ(vnb_create_file(s, tid, "Movies/big.mkv", 0, &fid, nullptr, nullptr, "OPEN FILE"), 0);
    Bytes at0(100), at5(200);
    ASSERT_EQ(vnb_do_read(s, tid, fid, 0, at0.data(), 100), 100);
    ASSERT_EQ(vnb_do_read(s, tid, fid, 5 * kGiB, at5.data(), 200), 100) << vnb_error();
    // Generated content: byte(o) = 31 * id + 7 * o + (o >> 8), so the
    // difference to the byte at the same offset modulo 4 GiB is nil.
    EXPECT_EQ(Bytes(at5.begin(), at5.begin() + 100), at0);
}

TEST_F(FakeFiles, SignedSessionReadsFullChunks)
{
    ASSERT_EQ(vnb_fake_fault("sign_required", 1), 0);
    logon();
    ASSERT_EQ(sess_signs(s), 1);
    s.max_buffer = 70000;  // 65280-byte chunks
    uint32_t fid = 0;
    ASSERT_EQ(vnb_create_file(s, tid, "Movies/big.mkv", 0, &fid, nullptr, nullptr, "OPEN FILE"), 0) << vnb_error();
    Bytes chunk(65280), again(65280);
    uint32_t before = s.sign_seq;
    ASSERT_EQ(vnb_do_read(s, tid, fid, 4 * kGiB, chunk.data(), 65280), 65280) << vnb_error();
    ASSERT_EQ(vnb_do_read(s, tid, fid, 0, again.data(), 65280), 65280) << vnb_error();
    EXPECT_EQ(chunk, again);
    EXPECT_EQ(s.sign_seq, before + 4);
}

}  // namespace
