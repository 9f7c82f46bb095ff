// vnsmb1c get and its companions beyond one plain copy: going on with a
// partial file, mirrors, the server's times, patterns, several URLs, and
// walks that go on past what they cannot read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/cli_fixture.h"

namespace {

using cli_test::CliTest;
using cli_test::Outcome;
using cli_test::quote;
using cli_test::slurp;

const std::string kNotes = "smb://fake/Public/notes.txt";
const std::string kNotesText = "Nothing to see here.\n";
constexpr int64_t kNotesTime = 1700000000;  // seconds, as the example tree has it
const std::string kPoster = quote("smb://fake/Media/Movies/Tears of Steel (2012)/poster.jpg");
constexpr size_t kPosterSize = 183402;

void put(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

int64_t mtime_of(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

// A tree with a folder the server refuses to open, among others it lists.
const char *const kLockedTree = R"({"guest":true,"shares":[{"name":"S","root":[{"name":"top","children":[
    {"name":"a.txt","text":"a"},
    {"name":"Locked","deny":true,"children":[{"name":"secret.txt","text":"s"}]},
    {"name":"Open","children":[{"name":"b.txt","text":"bb"},{"name":"c.txt","text":"ccc","deny":true}]},
    {"name":"z.txt","text":"zzzz"}]}]}]})";

TEST_F(CliTest, GetKeepsTheServersModificationTime)
{
    Outcome r = fake("-q get " + kNotes + " " + quote(dir_));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(mtime_of(dir_ + "/notes.txt"), kNotesTime);

    put(dir_ + "/over.txt", "old");
    r = fake("-q get -f " + kNotes + " " + quote(dir_ + "/over.txt"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(mtime_of(dir_ + "/over.txt"), kNotesTime);

    r = fake("-q get -r " + quote("smb://fake/Media/Movies/Tears of Steel (2012)") + " " + quote(dir_));
    ASSERT_EQ(r.code, 0) << r.err;
    std::string nfo = fake("stat --json " + quote("smb://fake/Media/Movies/Tears of Steel (2012)/movie.nfo")).out;
    auto at = nfo.find("\"mtime_ms\":");
    ASSERT_NE(at, std::string::npos) << nfo;
    EXPECT_EQ(mtime_of(dir_ + "/Tears of Steel (2012)/movie.nfo"), std::stoll(nfo.substr(at + 11)) / 1000);
}

TEST_F(CliTest, GetContinuesAPartialFile)
{
    const std::string whole = fake("cat " + kPoster).out;
    ASSERT_EQ(whole.size(), kPosterSize);
    std::string changed_tail = whole.substr(0, 100000);
    changed_tail[99990] ^= 0x55;
    std::string changed_head = whole.substr(0, 100000);
    changed_head[10] ^= 0x55;
    struct Case {
        const char *what;
        std::string here;     // the local file before
        std::string options;  // besides -c
        int code;
        bool complete;        // the local file is the server's afterwards
        size_t copied;        // bytes the summary counts
    };
    const Case cases[] = {
        {"empty", "", "", 0, true, kPosterSize},
        {"a little", whole.substr(0, 1000), "", 0, true, kPosterSize - 1000},
        {"more than the compared head", whole.substr(0, 100000), "", 0, true, kPosterSize - 100000},
        {"complete", whole, "", 0, true, 0},
        {"another tail", changed_tail, "", 4, false, 0},
        {"another head", changed_head, "", 4, false, 0},
        {"larger", whole + "x", "", 4, false, 0},
        {"another tail, -f", changed_tail, "-f ", 0, true, kPosterSize},
        {"larger, -u", whole + "x", "-u ", 0, true, kPosterSize},
    };
    const std::string dest = dir_ + "/poster.jpg";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        put(dest, c.here);
        Outcome r = fake("get -c " + c.options + kPoster + " " + quote(dest));
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(slurp(dest) == whole, c.complete);
        if (!c.complete) {
            EXPECT_EQ(slurp(dest), c.here) << "left as it was";
        }
        std::string said = c.code == 4      ? "not a partial copy of it (-f or -u copies it again)"
                           : c.copied > 0 ? ": " + std::to_string(c.copied) + " bytes in "
                                          : "complete (its bytes match the server's); left as it is";
        EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
        EXPECT_TRUE(leftovers().empty());
    }
    // No file here yet: a plain copy.
    std::remove(dest.c_str());
    EXPECT_EQ(fake("-q get -c " + kPoster + " " + quote(dest)).code, 0);
    EXPECT_EQ(slurp(dest), whole);
}

// -u copies what is missing or differs in size or time (a mirror); -n
// leaves every existing file alone.
TEST_F(CliTest, GetUpdateAndSkipExisting)
{
    const std::string music = dir_ + "/Music";
    const std::string playlist = music + "/playlist.m3u";
    Outcome first = fake("get -r -u smb://fake/Media/Music " + quote(dir_));
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_NE(first.err.find(": 5 files, 11178103 bytes in"), std::string::npos) << first.err;

    Outcome again = fake("get -r -u smb://fake/Media/Music " + quote(dir_));
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.err.find(": 0 files, 0 bytes in"), std::string::npos) << again.err;
    EXPECT_NE(again.err.find(", 5 left as they were"), std::string::npos) << again.err;

    // One file changed here (same size, another time), one gone: those two come again.
    const std::string original = slurp(playlist);
    put(playlist, std::string(original.size(), 'x'));
    std::remove((music + "/Kevin MacLeod/Royalty Free/cover.jpg").c_str());
    Outcome mirror = fake("get -r -u smb://fake/Media/Music " + quote(dir_));
    ASSERT_EQ(mirror.code, 0) << mirror.err;
    EXPECT_NE(mirror.err.find(": 2 files, "), std::string::npos) << mirror.err;
    EXPECT_EQ(slurp(playlist), original);

    put(playlist, "mine");
    Outcome skip = fake("get -r -n smb://fake/Media/Music " + quote(dir_));
    EXPECT_EQ(skip.code, 0) << skip.err;
    EXPECT_EQ(slurp(playlist), "mine");
    Outcome one = fake("get -n smb://fake/Media/Music/playlist.m3u " + quote(music));
    EXPECT_EQ(one.code, 0) << one.err;
    EXPECT_NE(one.err.find("playlist.m3u: exists; left as it is"), std::string::npos) << one.err;
    EXPECT_EQ(slurp(playlist), "mine");
    Outcome both = fake("get -n -f " + kNotes + " " + quote(dir_));
    EXPECT_EQ(both.code, 2) << both.err;
    EXPECT_TRUE(leftovers().empty());
}

// A folder or file the server refuses is reported and left out, the rest
// copied, and the exit code tells of the failure at the end.
TEST_F(CliTest, GetRecursiveGoesOnPastWhatItMayNotRead)
{
    const std::string tree = dir_ + "/locked.json";
    std::ofstream(tree) << kLockedTree;
    Outcome r = run("--fake " + quote(tree) + " get -r smb://fake/S/top " + quote(dir_));
    EXPECT_EQ(r.code, 13) << r.err;
    EXPECT_EQ(slurp(dir_ + "/top/a.txt"), "a");
    EXPECT_EQ(slurp(dir_ + "/top/Open/b.txt"), "bb");
    EXPECT_EQ(slurp(dir_ + "/top/z.txt"), "zzzz");
    EXPECT_NE(r.err.find("S/top/Locked: access denied (ACCESS_DENIED)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("S/top/Locked: left out"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("S/top/Open/c.txt: access denied (ACCESS_DENIED)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": 3 files, 7 bytes in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(", 2 failed"), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(dir_ + "/top/Locked/secret.txt").empty());
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CliTest, PatternsAndSeveralUrls)
{
    const std::string out = dir_ + "/out";
    ASSERT_TRUE(std::filesystem::create_directory(out));

    Outcome two = fake("get 'smb://fake/Media/Movies/*.srt' " + kNotes + " 'smb://fake/Media/*.TXT' " + quote(out));
    ASSERT_EQ(two.code, 0) << two.err;
    EXPECT_EQ(slurp(out + "/Sintel (2010).srt").size(), 38912u);
    EXPECT_EQ(slurp(out + "/notes.txt"), kNotesText);
    EXPECT_FALSE(slurp(out + "/README.txt").empty());  // letters without regard to case

    struct Case {
        std::string args;
        int code;
        const char *out_has;
        const char *err_has;
    };
    const Case cases[] = {
        {"ls 'smb://fake/Media/Movies/*.mkv'", 0, "2 items, 330.0 MiB", ""},
        {"ls 'smb://fake/Media/Movies/?intel*'", 0, "Sintel (2010).srt", ""},
        {"ls 'smb://fake/Media/Movies/*'", 0, "4 items", ""},    // hidden names only for a pattern like them
        {"ls 'smb://fake/Media/Movies/.*'", 0, ".DS_Store", ""},
        {"ls smb://fake/Media smb://fake/Public", 0, "Media:\n", ""},
        {"ls smb://fake/Media smb://fake/Public", 0, "\nPublic:\n", ""},
        {"stat 'smb://fake/Media/Movies/*.srt' " + kNotes, 0, "name:     notes.txt", ""},
        {"stat --json 'smb://fake/Media/Movies/B*'", 0, "\"path\":\"Movies/Big Buck Bunny (2008).mkv\"", ""},
        {"cat " + kNotes + " " + kNotes, 0, "Nothing to see here.\nNothing to see here.\n", ""},
        {"cat 'smb://fake/Public/*.txt'", 0, "Nothing to see here.\n", ""},
        {"ls 'smb://fake/Media/Movies/*.xyz'", 14, "", "vnsmb1c: Media/Movies/*.xyz: no match\n"},
        {"get 'smb://fake/Media/Movies/*.xyz' " + quote(out), 14, "", "no match"},
        {"ls 'smb://fake/Media/*/x'", 2, "", "in the last part of a path only"},
        {"ls 'smb://fake/Med*'", 2, "", "not for shares"},
        // Several files go into a folder.
        {"get " + kNotes + " " + kNotes + " " + quote(out + "/notes.txt"), 2, "", "is not a folder"},
        {"get 'smb://fake/Public/*' " + quote(dir_ + "/nowhere"), 2, "", "is not a folder"},
        // A failure among several: the others are still done, its code at the end.
        {"ls smb://fake/Nope smb://fake/Public", 14, "notes.txt", "Nope: no such share"},
        {"cat smb://fake/Public/missing.txt " + kNotes, 14, "Nothing to see here.\n", "missing.txt: no such file"},
        {"get 'smb://fake/Media/*' " + quote(dir_), 2, "", "Media/Movies: is a folder, not a file (get -r"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = fake(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    }
    // The file the last pattern matched besides the folders was copied all the same.
    EXPECT_EQ(slurp(dir_ + "/README.txt"), slurp(out + "/README.txt"));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CliTest, LsRecursive)
{
    Outcome r = fake("ls -R smb://fake/Media/TV");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Media/TV:\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n\nMedia/TV/Elephants Dream/Season 01:\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("S01E02.mkv"), std::string::npos) << r.out;

    Outcome json = fake("ls -R --json smb://fake/Media/TV");
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\"items\":[{\"name\":\"Elephants Dream\",\"path\":\"TV/Elephants Dream\"", 0), 0u)
        << json.out;
    EXPECT_NE(json.out.find("\"path\":\"TV/Elephants Dream/Season 01/S01E01.mkv\""), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << "one line";

    // A folder that cannot be listed is reported; the others are listed.
    const std::string tree = dir_ + "/locked.json";
    std::ofstream(tree) << kLockedTree;
    Outcome locked = run("--fake " + quote(tree) + " ls -R smb://fake/S/top");
    EXPECT_EQ(locked.code, 13) << locked.err;
    EXPECT_NE(locked.err.find("S/top/Locked: access denied (ACCESS_DENIED)"), std::string::npos) << locked.err;
    EXPECT_NE(locked.out.find("S/top/Open:\n"), std::string::npos) << locked.out;
    EXPECT_NE(locked.out.find("z.txt"), std::string::npos) << locked.out;
}

TEST_F(CliTest, NamesSortNaturally)
{
    const std::string tree = dir_ + "/episodes.json";
    std::ofstream(tree) << R"({"guest":true,"shares":[{"name":"S","root":[
        {"name":"Episode 10.mkv","text":"x"},{"name":"episode 2.mkv","text":"x"},{"name":"Zebra.txt","text":"x"},
        {"name":"Episode 9.mkv","text":"x"},{"name":"\u00c9bauche.txt","text":"x"},{"name":"ecole.txt","text":"x"},
        {"name":"Eclair.txt","text":"x"},{"name":"Season 10","children":[]},{"name":"Season 2","children":[]}]}]})";
    Outcome r = run("--fake " + quote(tree) + " ls smb://fake/S");
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> order = {"Season 2/",     "Season 10/",    "\xC3\x89" "bauche.txt", "Eclair.txt",
                                      "ecole.txt",     "episode 2.mkv", "Episode 9.mkv",         "Episode 10.mkv",
                                      "Zebra.txt"};
    size_t last = 0;
    for (const std::string &n : order) {
        size_t at = r.out.find(n);
        ASSERT_NE(at, std::string::npos) << n << " missing in\n" << r.out;
        EXPECT_GE(at, last) << n << " out of order in\n" << r.out;
        last = at;
    }
}

}  // namespace
