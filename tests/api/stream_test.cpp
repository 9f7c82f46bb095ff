// Reading through vnsmb1c_read_at with several READs in flight and
// read-ahead, against the fake server in each of its configurations: every
// byte compared with the file's content.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/support/fake_tcp_front.h"
#include "fake_session.h"
#include "vnsmb1c.h"

namespace {

// Film 1002 and trailer 1003 (ids in registration order).
constexpr int64_t kFilmId = 1002;
constexpr int64_t kTrailerId = 1003;
constexpr int64_t kFilmSize = (int64_t{12} << 20) + 5;
constexpr int64_t kTrailerSize = 3 * 65536 + 17;
constexpr int64_t kMiB = int64_t{1} << 20;

constexpr const char *kFilmTree = R"({
  "shares": [{"name": "Media", "root": [
      {"name": "film.mkv", "size": 12582917},
      {"name": "trailer.mkv", "size": 196625},
      {"name": "Extras", "children": [{"name": "a.txt", "text": "a"}, {"name": "b.txt", "text": "bb"}]}
  ]}],
  "users": [{"name": "alice", "pass": "pw"}]
})";

struct Config {
    const char *name;
    Road road;
    std::vector<std::pair<const char *, int>> faults;
    int64_t read_ahead;  // -1: the default
};

const Config kConfigs[] = {
    {"Plain", Road::fake, {}, -1},
    {"Relayed", Road::relay, {}, -1},
    {"OutOfOrder", Road::fake, {{"reorder", 1}}, -1},
    {"SignedOutOfOrder", Road::fake, {{"reorder", 1}, {"sign_required", 1}}, -1},
    {"Signed", Road::fake, {{"sign_required", 1}}, -1},
    {"MaxMpxOne", Road::fake, {{"max_mpx", 1}}, -1},
    {"MaxMpxTwo", Road::fake, {{"max_mpx", 2}, {"reorder", 1}}, -1},
    {"NoLargeReads", Road::fake, {{"no_large_read", 1}}, -1},
    {"NoReadAhead", Road::fake, {{"reorder", 1}}, 0},
    {"SmallReadAhead", Road::fake, {}, 100000},
    // Servers that answer a READ with less than was asked, inside the file.
    {"ShortReads", Road::fake, {{"read_cap", 50001}}, -1},
    {"ShortReadsOutOfOrder", Road::fake, {{"read_cap", 30000}, {"reorder", 1}}, -1},
    {"ShortReadsOneAtATime", Road::fake, {{"read_cap", 70000}, {"max_mpx", 1}}, -1},
    {"ShortReadsRelayed", Road::relay, {{"read_cap", 65536}}, -1},
};

constexpr const char *kFaultNames[] = {"reorder", "sign_required", "max_mpx", "no_large_read", "read_cap"};

void clear_faults()
{
    for (const char *f : kFaultNames)
        vnsmb1c_fake_set_fault(f, 0);
    vnsmb1c_set_read_ahead(int64_t{8} << 20);
}

class Stream : public ::testing::TestWithParam<Config> {
protected:
    void SetUp() override
    {
        clear_faults();
        ASSERT_EQ(vnsmb1c_use_fake(kFilmTree), 0);
        for (const auto &[name, value] : GetParam().faults) {
            int rc = vnsmb1c_fake_set_fault(name, value);
            ASSERT_EQ(rc, 0) << name;
        }
        if (GetParam().read_ahead >= 0) {
            ASSERT_EQ(vnsmb1c_set_read_ahead(GetParam().read_ahead), 0);
        }
        ASSERT_EQ(open_fake_session(GetParam().road, kFilmTree), 0) << vnsmb1c_last_error();
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        clear_faults();
        vnsmb1c_use_sockets();
    }

    // Reads `length` bytes at `offset` and compares them with the file.
    void expect_read(int handle, int64_t id, int64_t size, int64_t offset, int length, const std::string &what)
    {
        std::vector<uint8_t> buf(static_cast<size_t>(length) + 1, 0xEE);
        int n = vnsmb1c_read_at(handle, offset, buf.data(), length);
        int64_t want = std::clamp<int64_t>(size - offset, 0, length);
        ASSERT_EQ(n, want) << what << " at " << offset << "+" << length << ": " << vnsmb1c_last_error();
        for (int i = 0; i < n; i++)
            ASSERT_EQ(buf[static_cast<size_t>(i)], generated_byte(id, static_cast<uint64_t>(offset + i)))
                << what << ": byte " << offset + i;
        EXPECT_EQ(buf[static_cast<size_t>(n)], 0xEE) << what << ": nothing written past the count";
    }
};

struct Step {
    int64_t offset;
    int length;
};

struct ReadRun {
    const char *what;
    std::vector<Step> steps;
};

// Sequential runs of `count` reads of `length` from `from`.
std::vector<Step> sequential(int64_t from, int length, int count)
{
    std::vector<Step> out;
    for (int i = 0; i < count; i++)
        out.push_back({from + int64_t{i} * length, length});
    return out;
}

std::vector<Step> joined(std::initializer_list<std::vector<Step>> parts)
{
    std::vector<Step> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_P(Stream, EveryByteOfEachRun)
{
    const ReadRun runs[] = {
        {"one byte at odd offsets", {{1, 1}, {kFilmSize - 1, 1}, {65535, 1}, {65536, 1}, {7777777, 1}}},
        {"several MiB at odd offsets", {{3, static_cast<int>(3 * kMiB + 11)}, {5 * kMiB + 1, static_cast<int>(kMiB)}}},
        {"across the end of file", {{kFilmSize - 1000, 65536}, {kFilmSize - 3 * kMiB - 7, static_cast<int>(4 * kMiB)}}},
        {"past the end of file", {{kFilmSize, 10}, {kFilmSize + 5, 10}}},
        {"a player's 32 KiB calls to the end", sequential(kFilmSize - 200 * 32768 - 3, 32768, 201)},
        {"sequential broken by seeks back and forward",
         joined({sequential(1000, 65536, 40), sequential(500, 4096, 10), sequential(9 * kMiB + 3, 65536, 20),
                 sequential(2 * kMiB, 1 << 20, 3), sequential(2 * kMiB + 100, 1000, 5)})},
        {"re-reading the same bytes", {{4096, 4096}, {4096, 4096}, {8192, 4096}, {4096, 8192}}},
        {"whole file in 1 MiB calls", sequential(0, 1 << 20, 13)},
    };
    for (const ReadRun &run : runs) {
        int h = vnsmb1c_open("Media", "film.mkv");
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        for (const Step &st : run.steps) {
            expect_read(h, kFilmId, kFilmSize, st.offset, st.length, run.what);
            if (HasFatalFailure())
                return;
        }
        vnsmb1c_close(h);
    }
}

TEST_P(Stream, OtherCommandsWhileReadsAreOutstanding)
{
    int film = vnsmb1c_open("Media", "film.mkv");
    ASSERT_GT(film, 0) << vnsmb1c_last_error();
    for (int i = 0; i < 8; i++)
        expect_read(film, kFilmId, kFilmSize, int64_t{i} * 65536, 65536, "film before");
    // Read-ahead is on its way now: listing, opening, reading and closing
    // another file go between its replies.
    ASSERT_EQ(vnsmb1c_list("Media", "Extras"), 2) << vnsmb1c_last_error();
    int trailer = vnsmb1c_open("Media", "trailer.mkv");
    ASSERT_GT(trailer, 0) << vnsmb1c_last_error();
    for (int i = 0; i < 4; i++)
        expect_read(trailer, kTrailerId, kTrailerSize, int64_t{i} * 65536, 65536, "trailer");
    vnsmb1c_close(trailer);
    for (int i = 8; i < 40; i++)
        expect_read(film, kFilmId, kFilmSize, int64_t{i} * 65536, 65536, "film after");
    vnsmb1c_close(film);
}

TEST_P(Stream, NoStaleReadAheadAfterCloseOrReconnect)
{
    int film = vnsmb1c_open("Media", "film.mkv");
    ASSERT_GT(film, 0);
    for (int i = 0; i < 6; i++)
        expect_read(film, kFilmId, kFilmSize, int64_t{i} * 4096, 4096, "film");
    vnsmb1c_close(film);
    // The same slot, another file, where the film's read-ahead would go on.
    int trailer = vnsmb1c_open("Media", "trailer.mkv");
    ASSERT_EQ((trailer - 1) % 64, (film - 1) % 64) << "the same slot";
    expect_read(trailer, kTrailerId, kTrailerSize, 6 * 4096, 4096, "trailer in the film's slot");
    for (int i = 0; i < 4; i++)
        expect_read(trailer, kTrailerId, kTrailerSize, 7 * 4096 + int64_t{i} * 4096, 4096, "trailer");

    // A new connection: handles of the old one are gone, a new open reads
    // from the start.
    ASSERT_EQ(open_fake_session(GetParam().road, kFilmTree), 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_read_at(trailer, 0, nullptr, 0), -6) << "the old handle is gone";
    film = vnsmb1c_open("Media", "film.mkv");
    ASSERT_GT(film, 0);
    for (int i = 0; i < 6; i++)
        expect_read(film, kFilmId, kFilmSize, 11 * 4096 + int64_t{i} * 4096, 4096, "film again");
    vnsmb1c_close(film);
}

TEST_P(Stream, EveryByteAfterManyRandomSeeks)
{
    // Seeks anywhere, each followed by a few reads that continue it, so that
    // read-ahead of one streak is still on its way when the next begins.
    std::mt19937_64 rng(26);
    int h = vnsmb1c_open("Media", "film.mkv");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    std::vector<uint8_t> got;
    std::vector<uint8_t> want;
    for (int seek = 0; seek < 40; seek++) {
        int64_t at = static_cast<int64_t>(rng() % static_cast<uint64_t>(kFilmSize + 1000));
        const int calls = 1 + static_cast<int>(rng() % 4);
        for (int call = 0; call < calls; call++) {
            const int length = 1 + static_cast<int>(rng() % (96 * 1024));
            got.assign(static_cast<size_t>(length), 0xEE);
            int n = vnsmb1c_read_at(h, at, got.data(), length);
            const int64_t expect = std::clamp<int64_t>(kFilmSize - at, 0, length);
            ASSERT_EQ(n, expect) << "seek " << seek << " at " << at << "+" << length << ": " << vnsmb1c_last_error();
            want.resize(static_cast<size_t>(n));
            for (int i = 0; i < n; i++)
                want[static_cast<size_t>(i)] = generated_byte(kFilmId, static_cast<uint64_t>(at + i));
            ASSERT_EQ(std::memcmp(got.data(), want.data(), want.size()), 0) << "seek " << seek << " at " << at;
            at += n;
        }
    }
    vnsmb1c_close(h);
}

INSTANTIATE_TEST_SUITE_P(Fake, Stream, ::testing::ValuesIn(kConfigs),
                         [](const ::testing::TestParamInfo<Config> &info) { return info.param.name; });

class ReadAhead : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_faults();
        ASSERT_EQ(open_fake_session(Road::fake, kFilmTree), 0) << vnsmb1c_last_error();
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        clear_faults();
        vnsmb1c_use_sockets();
    }

    // READs the server saw for `calls` sequential reads of `size` bytes.
    int64_t reads_for_sequential(int calls, int size = 65536)
    {
        int h = vnsmb1c_open("Media", "film.mkv");
        EXPECT_GT(h, 0);
        std::vector<uint8_t> buf(static_cast<size_t>(size));
        int64_t before = vnsmb1c_fake_calls(kCmdRead);
        for (int i = 0; i < calls; i++)
            EXPECT_EQ(vnsmb1c_read_at(h, int64_t{i} * size, buf.data(), size), size) << vnsmb1c_last_error();
        int64_t reads = vnsmb1c_fake_calls(kCmdRead) - before;
        vnsmb1c_close(h);
        return reads;
    }
};

TEST_F(ReadAhead, SequentialCallsShareLargeReads)
{
    // The window grows past the calls: a player's small reads share large
    // READs, far fewer than calls.
    EXPECT_LT(reads_for_sequential(400, 16384), 400 / 3);
}

TEST_F(ReadAhead, OffMeansOneReadPerCall)
{
    ASSERT_EQ(vnsmb1c_set_read_ahead(0), 0);
    EXPECT_EQ(reads_for_sequential(30), 30);
}

TEST_F(ReadAhead, SettingsTurnItOffAndOnAgain)
{
    ASSERT_EQ(vnsmb1c_connect_json(R"({"HostName":"fake","UserName":"alice","Password":"pw","ReadAhead":0})"), 0)
        << vnsmb1c_last_error();
    EXPECT_EQ(reads_for_sequential(30), 30);
    ASSERT_EQ(vnsmb1c_connect_json(R"({"HostName":"fake","UserName":"alice","Password":"pw","ReadAhead":"4194304"})"),
              0)
        << vnsmb1c_last_error();
    EXPECT_LT(reads_for_sequential(400, 16384), 400 / 3);
}

TEST_F(ReadAhead, SeeksAskForTheirBytesAndAsMuchAgain)
{
    int h = vnsmb1c_open("Media", "film.mkv");
    ASSERT_GT(h, 0);
    std::vector<uint8_t> buf(131072);
    int64_t before = vnsmb1c_fake_calls(kCmdRead);
    const int64_t offsets[] = {5 * kMiB + 7, kMiB, 11 * kMiB, 3, 7 * kMiB + 99999};
    for (int64_t at : offsets)
        ASSERT_EQ(vnsmb1c_read_at(h, at, buf.data(), 131072), 131072) << vnsmb1c_last_error();
    // The first read asks for its 128 KiB alone (a large chunk and the little
    // left over); each seek after it for 256 KiB, two large chunks and the
    // little left over.
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdRead) - before, 2 + 4 * 3) << "three READs per seek";

    // The read that continues a seek finds its bytes asked for already.
    ASSERT_EQ(vnsmb1c_read_at(h, 2 * kMiB, buf.data(), 65536), 65536) << vnsmb1c_last_error();
    before = vnsmb1c_fake_calls(kCmdRead);
    ASSERT_EQ(vnsmb1c_set_read_ahead(0), 0);  // asks for nothing more
    ASSERT_EQ(vnsmb1c_read_at(h, 2 * kMiB + 65536, buf.data(), 65536), 65536) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdRead) - before, 0);
    for (size_t i = 0; i < 65536; i += 997)
        ASSERT_EQ(buf[i], generated_byte(kFilmId, static_cast<uint64_t>(2 * kMiB + 65536) + i));
    vnsmb1c_close(h);
}

// A seek over real sockets while the replies of the read-ahead before it are
// held back by the server: the seek's READs go out and are answered at once,
// and once those replies come, the new read-ahead goes out behind the seek's
// first READ before the caller has its bytes.
TEST(SeekPastReadAhead, GoesOutAtOnceAndReadAheadFollowsIt)
{
    ASSERT_EQ(vnsmb1c_use_fake(kFilmTree), 0);
    clear_faults();
    FakeTcpFront front;
    ASSERT_TRUE(front.start());
    vnsmb1c_session *s = vnsmb1c_session_new();
    ASSERT_NE(s, nullptr);
    // A seek that waited for a held reply would fail with "timed out".
    ASSERT_EQ(vnsmb1c_s_set_timeout(s, 3000), 0);
    ASSERT_EQ(vnsmb1c_s_connect(s, "127.0.0.1", front.port(), nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_s_open(s, "Media", "film.mkv");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();

    std::vector<uint8_t> buf(131072);
    auto expect_bytes = [&](uint64_t at, int n) {
        for (int i = 0; i < n; i += 101)
            ASSERT_EQ(buf[static_cast<size_t>(i)], generated_byte(kFilmId, at + static_cast<uint64_t>(i))) << at + i;
    };
    // The READs the front has seen at offsets in [from, to), in their order,
    // once there are `count` of them (the front takes them in on a thread of
    // its own) or a few seconds have passed.
    auto reads_in = [&front](uint64_t from, uint64_t to, size_t count) {
        std::vector<uint64_t> in;
        for (int i = 0; i < 300; i++) {
            in.clear();
            for (uint64_t at : front.reads())
                if (at >= from && at < to)
                    in.push_back(at);
            if (in.size() >= count)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return in;
    };

    // Read-ahead past 512 KiB goes out during this run and stays unanswered.
    front.hold_reads(512 * 1024, 4 * kMiB);
    for (uint64_t at = 0; at < 512 * 1024; at += 65536) {
        ASSERT_EQ(vnsmb1c_s_read_at(s, h, at, buf.data(), 65536), 65536) << vnsmb1c_last_error();
        expect_bytes(at, 65536);
    }
    ASSERT_GE(reads_in(512 * 1024, 4 * kMiB, 2).size(), 2u) << "read-ahead is held";

    const uint64_t seek = 8 * kMiB + 3;
    ASSERT_EQ(vnsmb1c_s_read_at(s, h, seek, buf.data(), 131072), 131072) << vnsmb1c_last_error();
    expect_bytes(seek, 131072);
    std::vector<uint64_t> reads = reads_in(seek, UINT64_MAX, 2);
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[0], seek) << "the seek's first READ goes out first";
    EXPECT_EQ(reads[1], seek + 124 * 1024);

    // The held replies arrive now, ahead of those of the next seek.
    ASSERT_TRUE(front.release());
    const uint64_t back = 2 * kMiB + 5;
    ASSERT_EQ(vnsmb1c_s_read_at(s, h, back, buf.data(), 65536), 65536) << vnsmb1c_last_error();
    expect_bytes(back, 65536);
    // The next call continues the seek: its bytes are on their way already.
    ASSERT_EQ(vnsmb1c_s_read_at(s, h, back + 65536, buf.data(), 65536), 65536) << vnsmb1c_last_error();
    expect_bytes(back + 65536, 65536);
    reads = reads_in(back, seek, 3);
    ASSERT_GE(reads.size(), 3u);
    EXPECT_EQ(reads[0], back);
    EXPECT_EQ(reads[1], back + 124 * 1024) << "read-ahead went out behind the seek's READ";
    for (size_t i = 2; i < reads.size(); i++)
        EXPECT_GE(reads[i], back + 128 * 1024) << "asked again: READ " << i;

    vnsmb1c_s_close(s, h);
    vnsmb1c_session_free(s);
    vnsmb1c_use_sockets();
}

TEST_F(ReadAhead, ServerReadCapIsLearned)
{
    // The server returns at most 100,000 bytes a READ. Once it has shown
    // that, calls ask for chunks of that size instead of a large chunk and
    // the rest of it: 11 READs per MiB, not 17.
    ASSERT_EQ(vnsmb1c_fake_set_fault("read_cap", 100000), 0);
    ASSERT_EQ(vnsmb1c_set_read_ahead(0), 0);
    int h = vnsmb1c_open("Media", "film.mkv");
    ASSERT_GT(h, 0);
    std::vector<uint8_t> buf(kMiB);
    int64_t before = vnsmb1c_fake_calls(kCmdRead);
    for (int i = 0; i < 8; i++) {
        ASSERT_EQ(vnsmb1c_read_at(h, i * kMiB, buf.data(), static_cast<int>(kMiB)), kMiB) << vnsmb1c_last_error();
        for (size_t j = 0; j < buf.size(); j += 4093)
            ASSERT_EQ(buf[j], generated_byte(kFilmId, static_cast<uint64_t>(i * kMiB) + j));
    }
    EXPECT_LE(vnsmb1c_fake_calls(kCmdRead) - before, 8 * 11 + 9);
    vnsmb1c_close(h);
}

TEST_F(ReadAhead, NegativeFigureRefused)
{
    EXPECT_EQ(vnsmb1c_set_read_ahead(-1), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "read-ahead must not be negative");
}

}  // namespace
