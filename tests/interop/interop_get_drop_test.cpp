// `vnsmb1c get` through a relay that drops every connection mid-copy and
// stays away for a while: the copy waits, connects again and goes on from
// where it was, byte for byte.
#ifdef VNSMB1C_CLI_PATH

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "interop/support/drop_proxy.h"
#include "interop/support/run_process.h"
#include "interop/support/samba_fixture.h"

using namespace interop;

namespace {

constexpr char kBigRel[] = "Movies/drop64.bin";
constexpr uint64_t kBigSize = 64ull << 20;

class GetDropTest : public SambaTest {
protected:
    void populate(SambaServer &s) override
    {
        SambaTest::populate(s);
        bytes_ = s.write_random_file(kPublicShare, kBigRel, kBigSize, 64);
    }

    // The largest file in folder: the copy's temporary file while it runs.
    static uint64_t largest_file(const std::filesystem::path &folder)
    {
        uint64_t most = 0;
        std::error_code ec;
        for (const auto &e : std::filesystem::directory_iterator(folder, ec)) {
            std::error_code size_ec;
            uint64_t n = e.file_size(size_ec);
            if (!size_ec && n > most)
                most = n;
        }
        return most;
    }

    std::vector<uint8_t> bytes_;
};

TEST_F(GetDropTest, GetWaitsForTheConnectionAndGoesOn)
{
    DropProxy proxy(server().port());
    ASSERT_TRUE(proxy.start());
    std::string tmpl = (std::filesystem::temp_directory_path() / "vnsmb1c_drop_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    const std::filesystem::path dir = tmpl;
    const std::filesystem::path dest = dir / "drop64.bin";
    const std::string url = "smb://" + std::string(kReader) + ":" + kReaderPassword + "@" + SambaServer::kHost + ":" +
                            std::to_string(proxy.port()) + "/" + kPublicShare + "/" + kBigRel;

    ProcessResult r;
    std::thread copy([&] { r = run_process({VNSMB1C_CLI_PATH, "--timeout", "15", "get", url, dest.string()}, {}, 120000); });
    // Once some of the file has arrived, the network goes away for two
    // seconds: longer than any reconnect inside one call waits.
    bool dropped = false;
    for (int i = 0; i < 20000 && !dropped; i++) {
        if (largest_file(dir) >= (4u << 20)) {
            proxy.stop();
            dropped = true;
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    if (dropped) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        EXPECT_TRUE(proxy.start());
    }
    copy.join();
    EXPECT_TRUE(dropped) << "the copy never got under way";
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("connection lost after "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("connected again; going on from "), std::string::npos) << r.output;
    std::ifstream in(dest, std::ios::binary);
    std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got.size(), bytes_.size());
    EXPECT_TRUE(got == bytes_);
    EXPECT_GE(proxy.accepts(), 2);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace

#endif
