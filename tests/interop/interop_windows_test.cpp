// The Windows build against a real Samba smbd: the tool (vnsmb1c.exe) and a
// C program built against the DLL (tests/windows/dll_client.c) run under Wine,
// list a folder and copy a 32 MiB file, which must arrive byte for byte.
// VNSMB1C_WINDOWS_BIN names the folder that holds vnsmb1c.exe, dll_client.exe
// and libvnsmb1c.dll (scripts/windows.sh builds them and sets it, together
// with a WINEPREFIX of its own); without it, or without wine, the tests skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "interop/support/run_process.h"
#include "interop/support/samba_fixture.h"

using namespace interop;

namespace {

constexpr char kFolder[] = "Videos";
constexpr char kBigName[] = "big.bin";
constexpr uint64_t kBigSize = 32ull << 20;
constexpr uint64_t kBigSeed = 17;
constexpr int kRunLimitMs = 300000;  // Wine's first start in a fresh prefix included

std::vector<uint8_t> file_bytes(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WindowsClientTest : public SambaTest {
protected:
    void SetUp() override
    {
        const char *bin = std::getenv("VNSMB1C_WINDOWS_BIN");
        if (bin == nullptr || *bin == '\0')
            GTEST_SKIP() << "VNSMB1C_WINDOWS_BIN is not set (scripts/windows.sh sets it)";
        bin_ = bin;
        for (const char *name : {"vnsmb1c.exe", "dll_client.exe", "libvnsmb1c.dll"})
            if (!std::filesystem::exists(bin_ / name))
                GTEST_SKIP() << (bin_ / name).string() << " is missing";
        if (run_process({"wine", "--version"}, {}, 60000).exit_code != 0)
            GTEST_SKIP() << "wine is not installed";
        SambaTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string tmpl = (std::filesystem::temp_directory_path() / "vnsmb1c_win_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        out_ = tmpl;
    }

    void TearDown() override
    {
        if (!out_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(out_, ec);
        }
        SambaTest::TearDown();
    }

    void populate(SambaServer &s) override
    {
        SambaTest::populate(s);
        big_ = s.write_random_file(kPublicShare, std::string(kFolder) + "/" + kBigName, kBigSize, kBigSeed);
    }

    std::string url(const std::string &rel)
    {
        return "smb://" + std::string(SambaServer::kHost) + ":" + std::to_string(server_port()) + "/" + rel;
    }
    int server_port() { return server().port(); }

    ProcessResult wine(const std::string &program, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"wine", (bin_ / program).string()});
        return run_process(args, {}, kRunLimitMs);
    }

    ProcessResult tool(std::vector<std::string> args)
    {
        std::vector<std::string> all = {"-U", kReader, "-P", kReaderPassword};
        all.insert(all.end(), args.begin(), args.end());
        return wine("vnsmb1c.exe", all);
    }

    std::filesystem::path bin_;
    std::filesystem::path out_;
    std::vector<uint8_t> big_;
};

TEST_F(WindowsClientTest, ToolListsAndCopiesA32MiBFileByteExact)
{
    ProcessResult ls = tool({"ls", url(std::string(kPublicShare) + "/" + kFolder)});
    ASSERT_EQ(ls.exit_code, 0) << ls.output;
    EXPECT_NE(ls.output.find(kBigName), std::string::npos) << ls.output;

    std::filesystem::path copy = out_ / "copy.bin";
    ProcessResult get =
        tool({"-q", "get", url(std::string(kPublicShare) + "/" + kFolder + "/" + kBigName), copy.string()});
    ASSERT_EQ(get.exit_code, 0) << get.output;
    std::vector<uint8_t> got = file_bytes(copy);
    ASSERT_EQ(got.size(), kBigSize);
    EXPECT_TRUE(got == big_) << "the copy differs from the file on the share";
    for (const auto &e : std::filesystem::directory_iterator(out_))
        EXPECT_EQ(e.path().filename(), "copy.bin") << "left behind: " << e.path();
}

TEST_F(WindowsClientTest, ToolWritesStandardOutputUntranslated)
{
    // Text mode would turn the file's LF into CR LF.
    ProcessResult cat = tool({"cat", url(std::string(kPublicShare) + "/" + kHelloName)});
    ASSERT_EQ(cat.exit_code, 0) << cat.output;
    EXPECT_EQ(cat.output, kHelloText);
}

TEST_F(WindowsClientTest, ToolReportsTheServersRefusal)
{
    ProcessResult denied =
        wine("vnsmb1c.exe", {"-U", kReader, "-P", "wrong", "ls", url(std::string(kPrivateShare))});
    EXPECT_EQ(denied.exit_code, 13) << denied.output;  // 10 + |VNSMB1C_EAUTH|
    ProcessResult missing = tool({"stat", url(std::string(kPublicShare) + "/no-such-file")});
    EXPECT_EQ(missing.exit_code, 14) << missing.output;  // 10 + |VNSMB1C_ENOTFOUND|
}

TEST_F(WindowsClientTest, ProgramBuiltAgainstTheDllCopiesTheFile)
{
    std::filesystem::path copy = out_ / "dll.bin";
    ProcessResult r = wine("dll_client.exe", {SambaServer::kHost, std::to_string(server_port()), kReader,
                                              kReaderPassword, std::string(kPublicShare) + "/" + kFolder,
                                              kBigName, copy.string()});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("copied 33554432 of 33554432 bytes"), std::string::npos) << r.output;
    EXPECT_TRUE(file_bytes(copy) == big_) << "the copy differs from the file on the share";
}

TEST_F(WindowsClientTest, ProgramBuiltAgainstTheDllReportsARefusedConnection)
{
    // A port nothing listens on: Winsock's refusal comes back as a network error.
    server().stop();
    ProcessResult r = wine("dll_client.exe", {SambaServer::kHost, std::to_string(server_port()), kReader,
                                              kReaderPassword, kPublicShare, kHelloName,
                                              (out_ / "never.bin").string()});
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find("dll_client: connect: "), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out_ / "never.bin"));
}

}  // namespace
