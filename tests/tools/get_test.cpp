// vnsmb1c get: what it writes, and what it must never harm.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/sysmacros.h>
#endif
#include <unistd.h>

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
const std::string kPoster = quote("smb://fake/Media/Movies/Tears of Steel (2012)/poster.jpg");
// Breaks the fake server's next reply once this much of a file has arrived.
// Read-ahead off: the bytes after the fault are asked for only after it.
const std::string kFailMidway = "--read-ahead 0 --fake-fault garbage=1@70000 ";
const std::string kFailAtOnce = "--fake-fault garbage=1@0 ";

void put(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST_F(CliTest, GetRefusesToOverwriteUnlessForced)
{
    const std::string file = dir_ + "/notes.txt";
    struct Case {
        std::string args;
        int code;
        std::string content;
        const char *err_has;
    };
    const Case cases[] = {
        {"get " + kNotes + " " + quote(file), 4, "precious", "notes.txt exists; use --force to overwrite it"},
        {"get " + kNotes + " " + quote(dir_), 4, "precious", "exists; use --force"},  // into the folder
        {"get " + kNotes + " " + quote(dir_ + "/"), 4, "precious", "exists; use --force"},
        {"get -f " + kNotes + " " + quote(file), 0, kNotesText, ""},
        {"get --force " + kNotes + " " + quote(dir_), 0, kNotesText, ""},
        {"-q get " + kNotes + " " + quote(dir_ + "/new.txt"), 0, "precious", ""},  // another file
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        put(file, "precious");
        Outcome r = fake(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
        EXPECT_EQ(slurp(file), c.content);
        EXPECT_TRUE(leftovers().empty());
    }
    EXPECT_EQ(slurp(dir_ + "/new.txt"), kNotesText);
}

TEST_F(CliTest, GetWithoutDestinationWritesTheFileNameHere)
{
    std::string here = "cd " + quote(dir_) + " &&";
    Outcome r = fake("-q get " + kNotes, here);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(slurp(dir_ + "/notes.txt"), kNotesText);
    Outcome again = fake("-q get " + kNotes, here);
    EXPECT_EQ(again.code, 4);
}

TEST_F(CliTest, GetDashWritesToStandardOutput)
{
    Outcome r = fake("-q get " + kNotes + " -", "cd " + quote(dir_) + " &&");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, kNotesText);
    EXPECT_NE(access((dir_ + "/-").c_str(), F_OK), 0);

    Outcome poster = fake("-q get " + kPoster + " -");
    EXPECT_EQ(poster.code, 0) << poster.err;
    EXPECT_EQ(poster.out, fake("cat " + kPoster).out);
}

// A failed transfer leaves an existing file as it was and creates nothing.
TEST_F(CliTest, FailedTransferLeavesTheOldFileIntact)
{
    const std::string file = dir_ + "/poster.jpg";
    struct Case {
        std::string args;
        bool existing;
    };
    const Case cases[] = {
        {kFailMidway + "get -f " + kPoster + " " + quote(file), true},
        {kFailAtOnce + "get -f " + kPoster + " " + quote(file), true},
        {kFailMidway + "get " + kPoster + " " + quote(file), false},
        {kFailMidway + "get " + kPoster + " " + quote(dir_), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        unlink(file.c_str());
        if (c.existing)
            put(file, "precious");
        Outcome r = fake(c.args);
        EXPECT_EQ(r.code, 12) << r.err;
        EXPECT_EQ(r.err.find(" bytes in "), std::string::npos) << r.err;
        if (c.existing)
            EXPECT_EQ(slurp(file), "precious");
        else
            EXPECT_NE(access(file.c_str(), F_OK), 0);
        EXPECT_TRUE(leftovers().empty());
    }
}

#ifndef _WIN32
// Permission bits, symbolic links, pipes and device nodes: POSIX only.
TEST_F(CliTest, NewFilesFollowTheUmaskAndReplacedFilesKeepTheirMode)
{
    const std::string fresh = dir_ + "/fresh.txt";
    Outcome r = fake("-q get " + kNotes + " " + quote(fresh), "umask 027;");
    ASSERT_EQ(r.code, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const std::string kept = dir_ + "/kept.txt";
    put(kept, "old");
    ASSERT_EQ(chmod(kept.c_str(), 0604), 0);
    r = fake("-q get -f " + kNotes + " " + quote(kept), "umask 077;");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(slurp(kept), kNotesText);
}

// A symbolic link as destination: the file it names is replaced, the link stays.
TEST_F(CliTest, ReplacingThroughALinkKeepsTheLink)
{
    const std::string target = dir_ + "/target.txt";
    const std::string link = dir_ + "/link.txt";
    put(target, "old");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(fake("-q get " + kNotes + " " + quote(link)).code, 4);
    Outcome r = fake("-q get -f " + kNotes + " " + quote(link));
    ASSERT_EQ(r.code, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(slurp(target), kNotesText);
}

#endif

TEST_F(CliTest, CannotCreateSaysWhy)
{
    struct Case {
        std::string dest;
        const char *err_has;
    };
    const Case cases[] = {
        {dir_ + "/missing/out.txt", "out.txt: No such file or directory"},
        {dir_ + "/missing/", "missing/: No such file or directory"},
#ifdef _WIN32
        // The Windows runtime has no ENAMETOOLONG for a name past MAX_PATH.
        {dir_ + "/" + std::string(300, 'n'), ": No such file or directory"},
#else
        {dir_ + "/" + std::string(300, 'n'), ": File name too long"},
#endif
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dest);
        Outcome r = fake("get " + kNotes + " " + quote(c.dest));
        EXPECT_EQ(r.code, 3) << r.err;
        EXPECT_NE(r.err.find("vnsmb1c: cannot create "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    }
    EXPECT_TRUE(leftovers().empty());
}

// A pipe or a device is written as it is and never removed, also when the
// transfer fails.
#ifndef _WIN32
TEST_F(CliTest, PipesAndDevicesAreWrittenInPlace)
{
    const std::string pipe = dir_ + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    Outcome r = fake("-q get " + kNotes + " " + quote(pipe));
    EXPECT_EQ(r.code, 0) << r.err;
    char buf[64] = {};
    ssize_t n = read(reader, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), kNotesText);
    Outcome failed = fake(kFailAtOnce + "get " + kPoster + " " + quote(pipe));
    EXPECT_EQ(failed.code, 12) << failed.err;
    close(reader);
    struct stat st {};
    ASSERT_EQ(lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A character device like the null device, made inside the scratch
    // folder; only where this process may make device nodes.
    const std::string null_dev = dir_ + "/null";
    if (mknod(null_dev.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here";
    for (const std::string &prefix : {std::string(), kFailMidway}) {
        Outcome d = fake(prefix + "-q get " + kPoster + " " + quote(null_dev));
        EXPECT_EQ(d.code, prefix.empty() ? 0 : 12) << d.err;
        ASSERT_EQ(lstat(null_dev.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_EQ(st.st_rdev, makedev(1, 3));
    }
    EXPECT_TRUE(leftovers().empty());
}

#endif

TEST_F(CliTest, GetRecursiveCopiesAFolder)
{
    const std::vector<std::string> files = {
        "Music/playlist.m3u",
        "Music/Kevin MacLeod/Royalty Free/01 - Sneaky Snitch.mp3",
        "Music/Kevin MacLeod/Royalty Free/cover.jpg",
    };
    Outcome r = fake("get -r smb://fake/Media/Music " + quote(dir_));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("5 files, 11178103 bytes"), std::string::npos) << r.err;
    for (const std::string &f : files) {
        SCOPED_TRACE(f);
        EXPECT_EQ(slurp(dir_ + "/" + f), fake("cat " + quote("smb://fake/Media/" + f)).out);
    }
    // Again: the files exist now.
    Outcome again = fake("get -r smb://fake/Media/Music " + quote(dir_));
    EXPECT_EQ(again.code, 4);
    EXPECT_NE(again.err.find("exists; use --force"), std::string::npos) << again.err;
    EXPECT_EQ(fake("-q get -rf smb://fake/Media/Music " + quote(dir_)).code, 0);

    // Into a new folder of another name; -r of a file is a plain get.
    Outcome renamed = fake("-q get -r smb://fake/Media/Music " + quote(dir_ + "/Tunes"));
    ASSERT_EQ(renamed.code, 0) << renamed.err;
    EXPECT_EQ(slurp(dir_ + "/Tunes/playlist.m3u"), slurp(dir_ + "/Music/playlist.m3u"));
    EXPECT_EQ(fake("-q get -r " + kNotes + " " + quote(dir_)).code, 0);
    EXPECT_EQ(slurp(dir_ + "/notes.txt"), kNotesText);

    Outcome to_stdout = fake("get -r smb://fake/Media/Music -");
    EXPECT_EQ(to_stdout.code, 2);
    Outcome no_share = fake("get -r smb://fake " + quote(dir_));
    EXPECT_EQ(no_share.code, 2);
    EXPECT_NE(no_share.err.find("the URL names no share"), std::string::npos) << no_share.err;
    EXPECT_TRUE(leftovers().empty());
}

}  // namespace

// Names a server may list that cannot be a file here: on Windows a drive or
// stream colon and the device names (in any case, with any extension) are
// skipped with a message; elsewhere they are ordinary names.
TEST_F(CliTest, GetRecursiveSkipsNamesTheLocalSystemCannotHold)
{
    const std::string tree = dir_ + "/names.json";
    std::ofstream(tree) << R"({"guest":true,"shares":[{"name":"S","root":[{"name":"d","children":[
        {"name":"plain.txt","text":"p"},{"name":"NUL.txt","text":"n"},{"name":"com1","text":"c"},
        {"name":"a:b.txt","text":"s"},{"name":"console.txt","text":"k"}]}]}]})";
    Outcome r = run("--fake " + quote(tree) + " -q get -r smb://fake/S/d " + quote(dir_ + "/out"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(slurp(dir_ + "/out/plain.txt"), "p");
    EXPECT_EQ(slurp(dir_ + "/out/console.txt"), "k");  // a device name only as the whole stem
    for (const char *name : {"NUL.txt", "com1", "a:b.txt"}) {
        SCOPED_TRACE(name);
#ifdef _WIN32
        EXPECT_NE(r.err.find(std::string("skipped a name that cannot be a local file name: ") + name),
                  std::string::npos)
            << r.err;
#else
        EXPECT_FALSE(slurp(dir_ + "/out/" + name).empty()) << r.err;
#endif
    }
}

#ifdef _WIN32
// Backslashes separate folders in a Windows destination as slashes do.
TEST_F(CliTest, BackslashesSeparateLocalFolders)
{
    std::string windows_dir = dir_;
    for (char &c : windows_dir)
        c = c == '/' ? '\\' : c;
    Outcome into = fake("-q get " + kNotes + " " + quote(windows_dir + "\\"));
    ASSERT_EQ(into.code, 0) << into.err;
    EXPECT_EQ(slurp(dir_ + "/notes.txt"), kNotesText);
    Outcome missing = fake("get " + kNotes + " " + quote(windows_dir + "\\missing\\"));
    EXPECT_EQ(missing.code, 3);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    EXPECT_TRUE(leftovers().empty());
}
#endif
