// The relay path against a real Samba smbd: the library's own socket-backed
// HostIo selected with vnsmb1c_use_io relays every message over one TCP
// connection, so the logon, the tree and the open file it holds on the
// server stay in place from one relayed message to the next.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "interop/support/library_calls.h"
#include "interop/support/samba_fixture.h"
#include "util/bytebuf.h"
#include "util/text.h"
#include "vnsmb1c.h"

using namespace interop;

namespace {

constexpr char kBigRel[] = "Media/relay32.bin";
constexpr uint64_t kBigSize = 32ull << 20;
constexpr uint64_t kBigSeed = 32;
constexpr uint8_t kLogoff = 0x74;

// What went through the socket-backed object: each request's command and
// the status of its reply (or -1 for a failed post).
struct Relayed {
    uint8_t command;
    int64_t status;
};

std::mutex g_seen_guard;
std::vector<Relayed> g_seen;

uint32_t le32(const ByteBuffer &b, size_t at)
{
    return uint32_t{b.data[at]} | uint32_t{b.data[at + 1]} << 8 | uint32_t{b.data[at + 2]} << 16 |
           uint32_t{b.data[at + 3]} << 24;
}

// Hands every post on to the library's socket-backed object, noting what
// went through.
int recording_post(void *, const char *url, const char *body, const char *content_type, char **out_body,
                   long *out_status, char **out_error)
{
    const vnsmb1c_HostIo *io = vnsmb1c_io_socket();
    int rc = io->http_post(io->context, url, body, content_type, out_body, out_status, out_error);
    Relayed r{0, -1};
    ByteBuffer req{};
    if (vnb_b64dec(body, &req) == 0 && req.len > 4)
        r.command = req.data[4];
    vnb_buf_free(&req);
    ByteBuffer rep{};
    if (rc == 0 && *out_body && vnb_b64dec(*out_body, &rep) == 0 && rep.len >= 9)
        r.status = le32(rep, 5);
    vnb_buf_free(&rep);
    std::lock_guard<std::mutex> lock(g_seen_guard);
    g_seen.push_back(r);
    return rc;
}

void recording_free(void *, void *p)
{
    vnsmb1c_io_socket()->free(nullptr, p);
}

const vnsmb1c_HostIo kRecording = {nullptr, nullptr, recording_post, recording_free};

std::vector<uint8_t> file_on_disk(const std::filesystem::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class RelayTest : public SambaTest {
protected:
    void populate(SambaServer &server) override
    {
        SambaTest::populate(server);
        server.write_random_file(kPublicShare, kBigRel, kBigSize, kBigSeed);
    }

    void TearDown() override
    {
        vnsmb1c_disconnect();
        vnsmb1c_use_sockets();
        SambaTest::TearDown();
    }

    int connect_reader()
    {
        return vnsmb1c_connect(SambaServer::kHost, server().port(), "", kReader, kReaderPassword);
    }
};

TEST_F(RelayTest, OwnSocketHostIoListsAndReads)
{
    ASSERT_EQ(vnsmb1c_use_io(vnsmb1c_io_socket()), 0);
    ASSERT_EQ(connect_reader(), 0) << vnsmb1c_last_error();
    EXPECT_TRUE(has(share_names(), kPublicShare));
    ASSERT_GE(vnsmb1c_list(kPublicShare, nullptr), 0) << vnsmb1c_last_error();
    auto names = names_of(listed_items());
    for (const char *n : {kHelloName, "Movies", "Media"})
        EXPECT_EQ(names.count(n), 1u) << n;
    EXPECT_EQ(read_text_file(kPublicShare, kHelloName), kHelloText);
    EXPECT_EQ(read_text_file(kPrivateShare, kSecretName), kSecretText);
    vnsmb1c_disconnect();
}

TEST_F(RelayTest, ThirtyTwoMebibytesByteExactAndACleanLogoff)
{
    {
        std::lock_guard<std::mutex> lock(g_seen_guard);
        g_seen.clear();
    }
    ASSERT_EQ(vnsmb1c_use_io(&kRecording), 0);
    ASSERT_EQ(connect_reader(), 0) << vnsmb1c_last_error();
    ASSERT_GE(vnsmb1c_list("public/Media", nullptr), 0) << vnsmb1c_last_error();
    EXPECT_EQ(names_of(listed_items()).count("relay32.bin"), 1u);

    int h = vnsmb1c_open(kPublicShare, kBigRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_size(h), static_cast<int64_t>(kBigSize));
    std::vector<uint8_t> got = read_all(h, 1 << 20);
    vnsmb1c_close(h);
    std::vector<uint8_t> want = file_on_disk(server().path(kPublicShare, kBigRel));
    ASSERT_EQ(want.size(), kBigSize);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << "the relayed file differs from the file on disk";

    vnsmb1c_disconnect();
    std::lock_guard<std::mutex> lock(g_seen_guard);
    ASSERT_FALSE(g_seen.empty());
    int failed = 0;
    for (const Relayed &r : g_seen)
        failed += r.status == -1;
    EXPECT_EQ(failed, 0) << "posts that failed";
    // The session ends with its LOGOFF (beside the tree's disconnect), which
    // the server accepts on the connection that logged on.
    ASSERT_GE(g_seen.size(), 2u);
    int logoffs = 0;
    for (size_t i = g_seen.size() - 2; i < g_seen.size(); i++) {
        if (g_seen[i].command != kLogoff)
            continue;
        logoffs++;
        EXPECT_EQ(g_seen[i].status, 0) << "LOGOFF answered with status " << std::hex << g_seen[i].status;
    }
    EXPECT_EQ(logoffs, 1);
}

}  // namespace
