// A session against Samba that loses its connection between two reads of an
// open file, through a relay that is stopped and started again and through
// smbd itself restarting: the next read on the same handle and the next
// listing work without a call from the host, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "interop/support/drop_proxy.h"
#include "interop/support/library_calls.h"
#include "interop/support/samba_fixture.h"
#include "vnsmb1c.h"

using namespace interop;

namespace {

constexpr const char *kHost = SambaServer::kHost;
constexpr char kLongRel[] = "Movies/long.bin";
constexpr uint64_t kLongSize = 3u << 20;
constexpr uint64_t kLongSeed = 11;

class ReconnectTest : public SambaTest {
protected:
    void populate(SambaServer &s) override
    {
        SambaTest::populate(s);
        long_bytes_ = s.write_random_file(kPublicShare, kLongRel, kLongSize, kLongSeed);
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        vnsmb1c_set_timeout(30000);
        SambaTest::TearDown();
    }

    // Reads [from, to) of long.bin on the handle and compares every byte;
    // "" when all match.
    std::string check_range(int handle, uint64_t from, uint64_t to)
    {
        std::vector<uint8_t> buf(60000);
        uint64_t at = from;
        for (int guard = 0; at < to && guard < 10000; guard++) {
            int ask = static_cast<int>(std::min<uint64_t>(buf.size(), to - at));
            int n = vnsmb1c_read_at(handle, static_cast<int64_t>(at), buf.data(), ask);
            if (n <= 0)
                return "read at " + std::to_string(at) + " gave " + std::to_string(n) + ": " + vnsmb1c_last_error();
            if (std::memcmp(buf.data(), long_bytes_.data() + at, static_cast<size_t>(n)) != 0)
                return "wrong bytes in the read at " + std::to_string(at);
            at += static_cast<uint64_t>(n);
        }
        return at == to ? "" : "stopped at " + std::to_string(at);
    }

    static std::string listing(const char *path)
    {
        int n = vnsmb1c_list(path, nullptr);
        if (n < 0)
            return std::string("list failed: ") + vnsmb1c_last_error();
        return vnsmb1c_list_json();
    }

    std::vector<uint8_t> long_bytes_;
};

}  // namespace

TEST_F(ReconnectTest, RelayStoppedAndStartedBetweenTwoReads)
{
    DropProxy proxy(server().port());
    ASSERT_TRUE(proxy.start());
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    ASSERT_EQ(vnsmb1c_set_timeout(10000), 0);
    // A read-ahead short of the file's end, so that the reads after the drop
    // need the connection (the default window would hold the whole file).
    ASSERT_EQ(vnsmb1c_set_read_ahead(256 * 1024), 0);
    ASSERT_EQ(vnsmb1c_connect(kHost, proxy.port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    std::string folder = std::string(kPublicShare) + "/Movies";
    std::string before = listing(folder.c_str());
    int h = vnsmb1c_open(folder.c_str(), "long.bin");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_EQ(check_range(h, 0, kLongSize / 3), "");

    proxy.stop();
    ASSERT_TRUE(proxy.start());
    EXPECT_EQ(check_range(h, kLongSize / 3, kLongSize), "");
    EXPECT_EQ(proxy.accepts(), 2) << "one reconnect";
    EXPECT_EQ(listing(folder.c_str()), before);
    EXPECT_EQ(check_range(h, 0, 4096), "");
    vnsmb1c_close(h);
    vnsmb1c_set_read_ahead(int64_t{8} << 20);
}

TEST_F(ReconnectTest, RelayThatStaysAwayFailsTheCallAndTheNextCallTriesAgain)
{
    DropProxy proxy(server().port());
    ASSERT_TRUE(proxy.start());
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    ASSERT_EQ(vnsmb1c_connect(kHost, proxy.port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_open(kPublicShare, kLongRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_EQ(check_range(h, 0, 1000), "");

    proxy.stop();
    char b[16];
    EXPECT_EQ(vnsmb1c_read_at(h, 1000, b, sizeof b), VNSMB1C_ENET) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list(kPublicShare, nullptr), VNSMB1C_ENET) << vnsmb1c_last_error();
    ASSERT_TRUE(proxy.start());
    EXPECT_EQ(check_range(h, 1000, 200000), "");
    vnsmb1c_close(h);
}

TEST_F(ReconnectTest, SmbdRestartedBetweenTwoReads)
{
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    ASSERT_EQ(vnsmb1c_set_timeout(10000), 0);
    ASSERT_EQ(vnsmb1c_connect(kHost, server().port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_open(kPublicShare, kLongRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_EQ(check_range(h, 0, kLongSize / 2), "");

    ASSERT_TRUE(server().restart());
    EXPECT_EQ(check_range(h, kLongSize / 2, kLongSize), "");
    std::string folder = std::string(kPublicShare) + "/Movies";
    EXPECT_EQ(vnsmb1c_list(folder.c_str(), nullptr), 2) << vnsmb1c_last_error();
    vnsmb1c_close(h);
}
