// Calls from several threads at once: one thread streams a file, one lists a
// folder, one enumerates shares, all on the C interface's one session, while
// a fourth lists through the request handler's sessions of its own. Every
// result must come back whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "api/fake_session.h"
#include "vnsmb1c.h"

namespace {

constexpr int kRounds = 12;

// Reads a.mkv three times in uneven pieces; the text of the first failure, or "".
std::string stream_thread()
{
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    if (h <= 0)
        return std::string("open: ") + vnsmb1c_last_error();
    std::vector<uint8_t> buf(45000);
    std::string failure;
    for (int pass = 0; pass < 3 && failure.empty(); pass++) {
        int64_t at = 0;
        while (at < kMkvSize && failure.empty()) {
            int n = vnsmb1c_read_at(h, at, buf.data(), static_cast<int>(buf.size()));
            if (n <= 0) {
                failure = "read at " + std::to_string(at) + ": " + vnsmb1c_last_error();
                break;
            }
            for (int i = 0; i < n; i++)
                if (buf[static_cast<size_t>(i)] != generated_byte(kMkvId, static_cast<uint64_t>(at + i))) {
                    failure = "wrong byte at " + std::to_string(at + i);
                    break;
                }
            at += n;
        }
        if (failure.empty() && at != kMkvSize)
            failure = "read " + std::to_string(at) + " bytes";
    }
    vnsmb1c_close(h);
    return failure;
}

std::string list_thread()
{
    std::string first;
    std::string first_item;
    for (int round = 0; round < kRounds; round++) {
        int n = vnsmb1c_list("Media/Paged", nullptr);
        if (n != 120)
            return "list gave " + std::to_string(n) + ": " + vnsmb1c_last_error();
        std::string json = vnsmb1c_list_json();
        std::string item = vnsmb1c_item_json(5);
        if (round == 0) {
            first = json;
            first_item = item;
            if (item.find(R"("name":"p)") == std::string::npos || json.find(item) == std::string::npos)
                return "item 5: " + item;
        } else if (json != first || item != first_item) {
            return "listing " + std::to_string(round) + " differs";
        }
        // The session report shares the thread's result slot with the item.
        const char *report = vnsmb1c_session_json();
        if (std::string(report).find("\"dialect\":\"NT LM 0.12\"") == std::string::npos)
            return std::string("session report: ") + report;
    }
    return first.find(R"("name":"p119")") == std::string::npos ? "listing lacks p119" : "";
}

std::string shares_thread()
{
    std::string first;
    for (int round = 0; round < kRounds; round++) {
        int n = vnsmb1c_shares();
        if (n < 2)
            return "shares gave " + std::to_string(n) + ": " + vnsmb1c_last_error();
        std::string names;
        for (int i = 0; i < n; i++)
            names += std::string(vnsmb1c_share_name(i)) + "|";
        if (round == 0)
            first = names;
        else if (names != first)
            return "share names " + names + " after " + first;
    }
    if (first.find("Media|") == std::string::npos || first.find("Music|") == std::string::npos)
        return "share names " + first;
    return "";
}

// Lists through the request handler, which connects sessions of its own.
std::string handler_thread()
{
    const vnsmb1c_RequestHandler *handler = vnsmb1c_vnrch_handler();
    const char *settings = R"({"HostName":"fake","UserName":"alice","Password":"pw"})";
    std::vector<char> out(1 << 16);
    for (int round = 0; round < kRounds / 3; round++) {
        int rc = handler->list(vnsmb1c_io_fake(), settings, "Music", out.data(), static_cast<int32_t>(out.size()));
        if (rc != 0)
            return std::string("handler list: ") + out.data();
        if (std::string(out.data()).find("song.mp3") == std::string::npos)
            return std::string("handler list: ") + out.data();
    }
    return "";
}

TEST(Threads, StreamListAndSharesAtOnceAllComeBackWhole)
{
    ASSERT_EQ(open_fake_session(Road::fake, kMediaTree), 0) << vnsmb1c_last_error();
    std::string results[4];
    {
        std::vector<std::thread> threads;
        threads.emplace_back([&] { results[0] = stream_thread(); });
        threads.emplace_back([&] { results[1] = list_thread(); });
        threads.emplace_back([&] { results[2] = shares_thread(); });
        threads.emplace_back([&] { results[3] = handler_thread(); });
        for (std::thread &t : threads)
            t.join();
    }
    EXPECT_EQ(results[0], "") << "stream";
    EXPECT_EQ(results[1], "") << "list";
    EXPECT_EQ(results[2], "") << "shares";
    EXPECT_EQ(results[3], "") << "request handler";
    vnsmb1c_use_sockets();
}

TEST(Threads, ErrorTextBelongsToTheCallingThread)
{
    ASSERT_EQ(vnsmb1c_connect(nullptr, 0, nullptr, nullptr, nullptr), -6);
    std::string other;
    std::thread t([&] {
        vnsmb1c_split_path("", nullptr, 0, nullptr, 0);
        other = vnsmb1c_last_error();
    });
    t.join();
    EXPECT_EQ(other, "bad argument");
    EXPECT_STREQ(vnsmb1c_last_error(), "empty host name");
}

TEST(Threads, ResultTextsAreKeptPerThread)
{
    ASSERT_EQ(open_fake_session(Road::fake, kMediaTree), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5);
    const char *mine = vnsmb1c_item_json(0);
    std::string expected = mine;
    const char *listing = vnsmb1c_list_json();
    std::string expected_listing = listing;
    std::thread t([] {
        vnsmb1c_item_json(1);
        vnsmb1c_session_json();
        vnsmb1c_list("Music", nullptr);
        vnsmb1c_list_json();
    });
    t.join();
    // Another thread's texts and listing leave this thread's texts in place.
    EXPECT_EQ(std::string(mine), expected);
    EXPECT_EQ(std::string(listing), expected_listing);
    vnsmb1c_use_sockets();
}

}  // namespace
