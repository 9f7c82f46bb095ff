// vnsmb1c on a terminal: the progress line, the password prompt and Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tools/cli_fixture.h"

namespace {

using cli_test::CliTest;
using cli_test::Reaction;
using cli_test::Screen;
using cli_test::slurp;

// The progress lines a screen shows: the text between "\r" and the
// erase-to-end-of-line sequence that ends each redraw.
std::vector<std::string> progress_lines(const std::string &screen)
{
    std::vector<std::string> out;
    const std::string erase = "\033[K";
    for (size_t at = screen.find('\r'); at != std::string::npos; at = screen.find('\r', at + 1)) {
        size_t end = screen.find(erase, at + 1);
        if (end == std::string::npos)
            break;
        if (screen.find('\r', at + 1) < end)
            continue;  // a "\r\n" line end, not a redraw
        out.push_back(screen.substr(at + 1, end - at - 1));
    }
    return out;
}

TEST_F(CliTest, ProgressLineFitsTheTerminal)
{
    const std::string dest = dir_ + "/a rather long destination name for a poster image.jpg";
    struct Case {
        unsigned short columns;
        std::vector<const char *> shows;  // in the last line
    };
    const Case cases[] = {
        {8, {"100%"}},
        {20, {"100%", "...", ".jpg"}},
        {40, {"100%", "...", "image.jpg"}},
        {60, {"100%", "179.1 KiB / 179.1 KiB", ".jpg"}},
        {80, {"100%", "179.1 KiB / 179.1 KiB", "/s", "in ", ".jpg"}},
        {250, {dest.c_str(), "] 100%  179.1 KiB / 179.1 KiB"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.columns);
        unlink(dest.c_str());
        Screen s = on_terminal({"get", "smb://fake/Media/Movies/Tears of Steel (2012)/poster.jpg", dest}, c.columns);
        ASSERT_TRUE(s.exited);
        ASSERT_EQ(s.code, 0) << s.text;
        std::vector<std::string> lines = progress_lines(s.text);
        ASSERT_FALSE(lines.empty()) << s.text;
        for (const std::string &line : lines)
            EXPECT_LT(line.size(), c.columns) << line;
        for (const char *part : c.shows)
            EXPECT_NE(lines.back().find(part), std::string::npos) << lines.back();
        // The finished line ends with a line end of its own.
        EXPECT_EQ(s.text.substr(s.text.size() - 5), "\033[K\r\n");
    }
}

TEST_F(CliTest, ErrorStartsOnALineOfItsOwn)
{
    const std::string dest = dir_ + "/episode.mkv";
    Screen s = on_terminal({"--fake-fault", "garbage=1@70000", "get",
                            "smb://fake/Media/TV/Elephants Dream/Season 01/S01E02.mkv", dest});
    ASSERT_TRUE(s.exited);
    EXPECT_EQ(s.code, 12) << s.text;
    ASSERT_FALSE(progress_lines(s.text).empty()) << s.text;
    size_t error = s.text.find("vnsmb1c: ");
    ASSERT_NE(error, std::string::npos) << s.text;
    EXPECT_EQ(s.text.substr(error - 5, 5), "\033[K\r\n") << s.text;
    EXPECT_NE(access(dest.c_str(), F_OK), 0);
    EXPECT_TRUE(leftovers().empty());
}

// Ctrl-C or SIGTERM during a transfer: the temporary file goes, the file
// that was there stays, and the exit code tells which signal it was.
TEST_F(CliTest, InterruptRemovesTheTemporaryFile)
{
    const std::string dest = dir_ + "/film.mkv";
    struct Case {
        Reaction reaction;
        int code;
    };
    // The progress line appears once the first bytes are in the
    // temporary file; the file is large enough to be far from done then.
    const Case cases[] = {
        {{"\r", "\x03", 0}, 128 + SIGINT},
        {{"\r", "", SIGTERM}, 128 + SIGTERM},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        std::ofstream(dest) << "precious";
        Screen s = on_terminal({"get", "-f", "smb://fake/Media/Movies/Sintel (2010).mkv", dest}, 80, {c.reaction});
        ASSERT_TRUE(s.exited) << s.signal;
        EXPECT_EQ(s.code, c.code) << s.text;
        EXPECT_EQ(slurp(dest), "precious");
        EXPECT_TRUE(leftovers().empty());
        EXPECT_EQ(s.text.back(), '\n');
    }
}

TEST_F(CliTest, PasswordPromptOnATerminal)
{
    struct Case {
        const char *typed;
        int code;
    };
    const Case cases[] = {
        {"popcorn\r", 0},
        {"butter\r", 13},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        Screen s =
            on_terminal({"-U", "media", "ls", "smb://fake/Public"}, 80, {{"Password for media@fake: ", c.typed, 0}});
        ASSERT_TRUE(s.exited);
        EXPECT_EQ(s.code, c.code) << s.text;
        // Typed without echo; the line end still shows.
        std::string word(c.typed, std::string(c.typed).size() - 1);
        EXPECT_EQ(s.text.find(word), std::string::npos) << s.text;
        EXPECT_EQ(s.text.find("guest"), std::string::npos) << s.text;
        if (c.code == 0)
            EXPECT_NE(s.text.find("notes.txt"), std::string::npos) << s.text;
        else
            EXPECT_NE(s.text.find("(LOGON_FAILURE)"), std::string::npos) << s.text;
    }
    // Ctrl-C at the prompt ends the tool.
    Screen interrupted = on_terminal({"-U", "media", "ls", "smb://fake/Public"}, 80, {{"Password for", "\x03", 0}});
    ASSERT_TRUE(interrupted.exited);
    EXPECT_EQ(interrupted.code, 128 + SIGINT);
}

}  // namespace
