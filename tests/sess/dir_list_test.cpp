#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <cstring>
#include <functional>
#include <string>

#include "fake/fake.h"
#include "net/net.h"
#include "sess/dir_list.h"
#include "sess/lifecycle.h"
#include "sess/sess_sign.h"
#include "sess/tree_file.h"
#include "api/session_ops.h"
#include "sess/support/sess_fixture.h"
#include "sess/support/trans_reply.h"
#include "sess/trans.h"
#include "util/text.h"

namespace {

using sp::Bytes;

constexpr uint8_t kFindClose2 = 0x34;
constexpr uint16_t kSid = 0x0ABC;
constexpr uint16_t kDirFid = 0x0042;
constexpr uint32_t kAttrDir = 0x10;
constexpr uint32_t kAttrFile = 0x20;
constexpr uint64_t kFiletime1970 = 116444736000000000ULL;

Bytes u16(const std::string &s)
{
    Bytes out(s.size() * 2 + 2);
    int32_t n = 0;
    EXPECT_EQ(vnb_utf8_to_utf16le(s.c_str(), out.data(), static_cast<int32_t>(out.size()), &n), 0) << s;
    out.resize(static_cast<size_t>(n));
    return out;
}

struct Ent {
    Bytes name;  // as on the wire
    uint32_t attrs = kAttrFile;
    uint64_t eof = 0;
    uint64_t mtime = 0;
};

Ent file(const std::string &name, uint64_t eof = 1, uint64_t mtime = kFiletime1970)
{
    return {u16(name), kAttrFile, eof, mtime};
}

Ent dir(const std::string &name)
{
    return {u16(name), kAttrDir, 0, kFiletime1970};
}

// One SMB_FIND_FILE_BOTH_DIRECTORY_INFO entry; next is its NextEntryOffset
// (the padded length when ~0).
Bytes entry(const Ent &e, uint32_t next = ~0u)
{
    Bytes b;
    size_t padded = (94 + e.name.size() + 7) & ~size_t{7};
    sp::put32(b, next == ~0u ? static_cast<uint32_t>(padded) : next);
    sp::put32(b, 0);  // FileIndex
    sp::put64(b, 1);  // CreationTime
    sp::put64(b, 2);  // LastAccessTime
    sp::put64(b, e.mtime);
    sp::put64(b, 3);  // ChangeTime
    sp::put64(b, e.eof);
    sp::put64(b, 4096);
    sp::put32(b, e.attrs);
    sp::put32(b, static_cast<uint32_t>(e.name.size()));
    sp::put32(b, 0);       // EaSize
    b.resize(b.size() + 26, 0);  // ShortNameLength, Reserved, ShortName
    sp::append(b, e.name);
    b.resize(padded, 0);
    return b;
}

Bytes block(const std::vector<Ent> &ents)
{
    Bytes b;
    for (size_t i = 0; i < ents.size(); i++)
        sp::append(b, entry(ents[i], i + 1 == ents.size() ? 0 : ~0u));
    return b;
}

// Which reply a bend applies to.
enum Step { kFirst = 1, kNext = 2 };

// A scripted server for one folder: NT_CREATE, CLOSE, FIND_FIRST2 /
// FIND_NEXT2 in pages (honouring CLOSE_AT_EOS) and FIND_CLOSE2.
struct FindServer {
    std::vector<Ent> ents;
    size_t page = 50;
    size_t pos = 0;
    bool open = false;
    uint32_t create_status = 0;
    uint32_t first_status = 0;
    uint32_t close2_status = 0;
    // Bends the reply for a step (the call number of that step given).
    std::function<void(Bytes &, Step, int)> bend;
    // Gives no reply at all (a time-out) for a step's n-th call.
    std::function<bool(Step, int)> silent;

    int firsts = 0;
    int nexts = 0;
    int closes = 0;
    std::vector<uint16_t> close2_sids;
    std::vector<Bytes> find_params;  // parameter blocks as received
    std::vector<uint16_t> max_data;

    std::vector<Bytes> operator()(const Bytes &req)
    {
        switch (sp::command_of(req)) {
        case smb::NT_CREATE_ANDX:
            return {create(req)};
        case smb::CLOSE:
            closes++;
            return {sp::reply_to(req, 0)};
        case kFindClose2:
            close2_sids.push_back(sp::get16(req, 33));
            open = false;
            return {sp::reply_to(req, close2_status)};
        case smb::TRANSACTION2:
            return trans2(req);
        default:
            return {sp::reply_to(req, 0xC00000BB)};
        }
    }

    Bytes create(const Bytes &req)
    {
        if (create_status)
            return sp::reply_to(req, create_status);
        Bytes w{0xFF, 0, 0, 0, 0};
        sp::put16(w, kDirFid);
        w.resize(68, 0);
        return sp::reply_to(req, 0, w);
    }

    std::vector<Bytes> trans2(const Bytes &req)
    {
        sp::TransReq t = sp::parse_trans_req(req);
        EXPECT_TRUE(t.ok);
        find_params.push_back(t.params);
        max_data.push_back(t.max_data);
        Step step = t.setup.at(0) == 1 ? kFirst : kNext;
        int n = step == kFirst ? ++firsts : ++nexts;
        if (silent && silent(step, n))
            return {};
        Bytes r;
        if (step == kFirst && first_status) {
            r = sp::reply_to(req, first_status);
        } else if (step == kNext && (!open || sp::get16(t.params, 0) != kSid)) {
            ADD_FAILURE() << "FIND_NEXT2 on a search that is not open";
            r = sp::reply_to(req, 0xC0000008);
        } else {
            if (step == kFirst) {
                pos = 0;
                open = true;
            }
            // As many entries as the page, SearchCount and MaxDataCount allow.
            size_t want = std::min<size_t>(page, sp::get16(t.params, 2));
            Bytes data;
            size_t last = 0;
            uint16_t returned = 0;
            while (pos < ents.size() && returned < want) {
                Bytes e = entry(ents[pos]);
                if (data.size() + e.size() > t.max_data)
                    break;
                last = data.size();
                sp::append(data, e);
                pos++;
                returned++;
            }
            if (returned)
                std::memset(data.data() + last, 0, 4);
            bool eos = pos >= ents.size();
            uint16_t flags = sp::get16(t.params, step == kFirst ? 4 : 10);
            if (eos && (flags & 0x0002))
                open = false;
            Bytes params;
            if (step == kFirst)
                sp::put16(params, kSid);
            sp::put16(params, returned);
            sp::put16(params, eos ? 1 : 0);
            sp::put16(params, 0);
            sp::put16(params, 0);
            r = sp::trans_reply(req, params, data);
        }
        if (bend)
            bend(r, step, n);
        return {r};
    }
};

// The reply cut back to its header with the status set: WordCount 0,
// ByteCount 0.
Bytes status_only(const Bytes &reply, uint32_t status)
{
    Bytes m(reply.begin(), reply.begin() + 32);
    for (int i = 0; i < 4; i++)
        m[5 + i] = static_cast<uint8_t>(status >> (8 * i));
    m.insert(m.end(), 3, 0);
    return m;
}

// The same from a server without NT statuses (Flags2 bit 0x4000 clear).
Bytes dos_status_only(const Bytes &reply, uint32_t status)
{
    Bytes m = status_only(reply, status);
    m[11] &= 0xBF;
    return m;
}

class DirList : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        peer.respond = [this](const Bytes &req) { return server(req); };
    }
    void TearDown() override
    {
        sess_reset(s);
        SessTest::TearDown();
    }
    std::vector<uint8_t> commands() const
    {
        std::vector<uint8_t> out;
        for (const Bytes &r : peer.requests)
            out.push_back(sp::command_of(r));
        return out;
    }
    std::string items() const { return s.listing.held ? vnb_listing_json(s.listing) : "(none)"; }
    FindServer server;
};

const std::vector<uint8_t> kOnePage{smb::NT_CREATE_ANDX, smb::TRANSACTION2, smb::CLOSE};

TEST_F(DirList, DotsOnlyGiveAnEmptyList)
{
    server.ents = {dir("."), dir("..")};
    ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0) << vnb_error();
    EXPECT_EQ(items(), "{\"items\":[]}");
    EXPECT_EQ(s.listing.items.size(), 0u);
    EXPECT_EQ(s.listing.hidden, 0u);
    EXPECT_EQ(commands(), kOnePage) << "the end of search closed it: no FIND_CLOSE2";
    EXPECT_EQ(server.closes, 1);
}

TEST_F(DirList, ItemsCarryNamePathFolderSizeTimeAndHidden)
{
    server.ents = {dir("."), dir(".."), file("x.mkv", 1234, kFiletime1970 + 15'000'000), dir("Extras"),
                   file("old.avi", 5, 0), file("pre1970", 1, kFiletime1970 - 20'000'000)};
    ASSERT_EQ(vnb_query_directory_all(s, "Movies/2020", 3), 0) << vnb_error();
    EXPECT_EQ(items(),
              "{\"items\":["
              "{\"name\":\"x.mkv\",\"path\":\"Movies/2020/x.mkv\",\"folder\":false,\"size\":1234,"
              "\"mtime_ms\":1000,\"hidden\":false},"
              "{\"name\":\"Extras\",\"path\":\"Movies/2020/Extras\",\"folder\":true,\"size\":-1,"
              "\"mtime_ms\":0,\"hidden\":false},"
              "{\"name\":\"old.avi\",\"path\":\"Movies/2020/old.avi\",\"folder\":false,\"size\":5,"
              "\"mtime_ms\":-1,\"hidden\":false},"
              "{\"name\":\"pre1970\",\"path\":\"Movies/2020/pre1970\",\"folder\":false,\"size\":1,"
              "\"mtime_ms\":-2000,\"hidden\":false}]}");
    EXPECT_EQ(s.listing.items.size(), 4u);

    server.ents = {file("x.mkv")};
    ASSERT_EQ(vnb_query_directory_all(s, nullptr, 3), 0) << vnb_error();
    EXPECT_NE(items().find("\"path\":\"x.mkv\""), std::string::npos) << items();
}

TEST_F(DirList, HiddenNamesAreCountedNotListed)
{
    server.ents = {dir("."),       dir(".."),        file(".profile"), dir("$RECYCLE.BIN"), dir("@eaDir"),
                   file("a$"),     file("#tag"),     file("b")};
    ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0) << vnb_error();
    EXPECT_EQ(s.listing.hidden, 3u);
    EXPECT_EQ(s.listing.items.size(), 3u);
    EXPECT_EQ(items().find("profile"), std::string::npos);
    EXPECT_EQ(items().find("eaDir"), std::string::npos);
    EXPECT_NE(items().find("\"name\":\"a$\""), std::string::npos);
    EXPECT_NE(items().find("\"name\":\"#tag\""), std::string::npos);
}

TEST_F(DirList, FindFirst2ParametersAndPattern)
{
    struct Case {
        uint32_t flags2;
        const char *folder;
        Bytes pattern;  // the FileName field, terminator included
        CodePage page = kDefaultCodePage;
    } cases[] = {
        {0xC801, "", Bytes{'*', 0, 0, 0}},
        {0xC801, "Movies", [] { Bytes b = u16("Movies\\*"); b.push_back(0); b.push_back(0); return b; }()},
        {0xC801, "Movies/2020", [] { Bytes b = u16("Movies\\2020\\*"); b.push_back(0); b.push_back(0); return b; }()},
        {0xC801, "/Movies\\2020/", [] { Bytes b = u16("Movies\\2020\\*"); b.push_back(0); b.push_back(0); return b; }()},
        {0x4801, "", Bytes{'*', 0}},
        // Without Unicode: the code page, CP850 unless the settings say otherwise.
        {0x4801, "Films/\xC3\x89t\xC3\xA9", Bytes{'F', 'i', 'l', 'm', 's', '\\', 0x90, 't', 0x82, '\\', '*', 0}},
        {0x4801, "Films/\xC3\x89t\xC3\xA9", Bytes{'F', 'i', 'l', 'm', 's', '\\', 0xC9, 't', 0xE9, '\\', '*', 0},
         CodePage::cp1252},
    };
    server.ents = {file("a")};
    for (const Case &c : cases) {
        server.find_params.clear();
        s.flags2 = c.flags2;
        s.code_page = c.page;
        ASSERT_EQ(vnb_query_directory_all(s, c.folder, 3), 0) << c.folder << ": " << vnb_error();
        ASSERT_EQ(server.find_params.size(), 1u);
        Bytes expected{0x37, 0x00, 0x56, 0x05, 0x02, 0x00, 0x04, 0x01, 0, 0, 0, 0};
        sp::append(expected, c.pattern);
        EXPECT_EQ(server.find_params[0], expected) << c.folder;
        EXPECT_EQ(server.max_data[0], 0xFFFF);
    }
}

TEST_F(DirList, FolderOpenGoesOutWithBackslashes)
{
    server.ents = {file("a")};
    ASSERT_EQ(vnb_query_directory_all(s, "Movies/2020", 3), 0) << vnb_error();
    const Bytes &create = peer.requests.at(0);
    Bytes name = u16("Movies\\2020");
    EXPECT_NE(std::search(create.begin(), create.end(), name.begin(), name.end()), create.end());
}

TEST_F(DirList, PathsThatCannotBeSent)
{
    server.ents = {file("a")};
    EXPECT_EQ(vnb_query_directory_all(s, "a/../b", 3), -6);
    EXPECT_TRUE(peer.requests.empty()) << "checked before any request";
    s.flags2 = 0x4801;
    EXPECT_EQ(vnb_query_directory_all(s, "\xE6\x97\xA5", 3), -6);
    EXPECT_STREQ(vnb_error(), "the path \xE6\x97\xA5 cannot be written in code page CP850 (the server has no Unicode)");
    EXPECT_TRUE(peer.requests.empty());
}

TEST_F(DirList, FindNext2ResumesAfterTheLastNameByteForByte)
{
    for (uint32_t flags2 : {0xC801u, 0x4801u}) {
        bool unicode = flags2 & 0x8000;
        s.flags2 = flags2;
        server.find_params.clear();
        server.page = 2;
        auto name = [&](const std::string &s) {
            Bytes b = unicode ? u16(s) : Bytes(s.begin(), s.end());
            if (!unicode)
                b.push_back(0);  // 8-bit names come with their NUL
            return Ent{b, kAttrFile, 1, kFiletime1970};
        };
        server.ents = {name("."), name(".."), name("a"), name("\xC3\xA9t\xC3\xA9")};
        if (!unicode)
            server.ents[3].name = {0x82, 't', 0x82, 0};  // CP850
        ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0) << vnb_error();
        ASSERT_EQ(server.find_params.size(), 2u);
        Bytes expected;
        sp::put16(expected, kSid);
        sp::put16(expected, 1366);
        sp::put16(expected, 0x0104);
        sp::put32(expected, 0);       // ResumeKey
        sp::put16(expected, 0x000A);  // CLOSE_AT_EOS | CONTINUE_FROM_LAST
        if (unicode)
            sp::append(expected, Bytes{'.', 0, '.', 0, 0, 0});
        else
            sp::append(expected, Bytes{'.', '.', 0});
        EXPECT_EQ(server.find_params[1], expected) << std::hex << flags2;
        EXPECT_EQ(items(),
                  "{\"items\":[{\"name\":\"a\",\"path\":\"a\",\"folder\":false,\"size\":1,\"mtime_ms\":0,"
                  "\"hidden\":false},{\"name\":\"\xC3\xA9t\xC3\xA9\",\"path\":\"\xC3\xA9t\xC3\xA9\","
                  "\"folder\":false,\"size\":1,\"mtime_ms\":0,\"hidden\":false}]}");
    }
}

TEST_F(DirList, PagesUntilTheEndOfSearchWithoutClosingIt)
{
    for (int i = 0; i < 120; i++)
        server.ents.push_back(file("f" + std::to_string(i)));
    server.page = 50;
    ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0) << vnb_error();
    EXPECT_EQ(s.listing.items.size(), 120u);
    EXPECT_EQ(server.firsts, 1);
    EXPECT_EQ(server.nexts, 2);
    EXPECT_TRUE(server.close2_sids.empty());
    EXPECT_EQ(server.closes, 1);
    EXPECT_EQ(commands().back(), smb::CLOSE);
}

TEST_F(DirList, EndOfSearchOnTheFirstReplySendsNothingMore)
{
    server.ents = {dir("."), dir(".."), file("a"), file("b")};
    ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0) << vnb_error();
    EXPECT_EQ(commands(), kOnePage);
}

// A folder larger than a listing takes fails it with -7 and ends the
// search: part of a folder is never handed out as if it were all of it.
TEST_F(DirList, FolderBeyondTheItemLimitFailsAndEndsTheSearchWithFindClose2)
{
    struct Case {
        int entries;
        uint32_t limit;
        int32_t rc;
    };
    const Case cases[] = {
        {6000, 5000, -7},  // ends in the middle of a page
        {5001, 5000, -7},  // one too many, on the last page
        {5000, 5000, 0},   // exactly as many
        {60000, kMaxListedItems, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entries);
        server.ents.clear();
        server.pos = 0;
        server.close2_sids.clear();
        server.closes = 0;
        for (int i = 0; i < c.entries; i++)
            server.ents.push_back(file("f" + std::to_string(i)));
        server.page = 1000;
        s.listing = Listing{};
        ListingLimits limits;
        limits.items = c.limit;
        int32_t rc = vnb_query_directory_all(s, "", 3, false, limits);
        EXPECT_EQ(rc, c.rc) << vnb_error();
        EXPECT_EQ(server.closes, 1);
        if (c.rc == 0) {
            EXPECT_EQ(s.listing.items.size(), static_cast<size_t>(c.entries));
            continue;
        }
        EXPECT_EQ(std::string(vnb_error()),
                  "the folder (the share's top) holds more than " + std::to_string(c.limit) +
                      " entries, the most a listing takes");
        EXPECT_FALSE(s.listing.held) << "nothing is handed out";
        if (server.pos < server.ents.size()) {
            EXPECT_EQ(server.close2_sids, std::vector<uint16_t>{kSid});
        }
    }
}

TEST_F(DirList, ACloseFailureAfterTheLimitKeepsTheLimitFailure)
{
    for (int i = 0; i < 3000; i++)
        server.ents.push_back(file("f" + std::to_string(i)));
    server.page = 1000;
    server.close2_status = 0xC0000008;
    ListingLimits limits;
    limits.items = 1500;
    EXPECT_EQ(vnb_query_directory_all(s, "sub", 3, false, limits), -7);
    EXPECT_STREQ(vnb_error(), "the folder sub holds more than 1500 entries, the most a listing takes");
    EXPECT_EQ(server.close2_sids, std::vector<uint16_t>{kSid});
}

TEST_F(DirList, EmptyFolderAndEarlyEndStatuses)
{
    // A drive's root holding nothing answers FIND_FIRST2 with NO_SUCH_FILE.
    server.first_status = 0xC000000F;
    ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0) << vnb_error();
    EXPECT_EQ(items(), "{\"items\":[]}");
    EXPECT_TRUE(server.close2_sids.empty());

    // NO_MORE_FILES on FIND_NEXT2 ends the listing; the search is closed.
    server.first_status = 0;
    server.page = 2;
    server.ents = {file("a"), file("b"), file("c")};
    server.bend = [](Bytes &r, Step s, int) {
        if (s == kNext)
            r = status_only(r, 0x80000006);
    };
    ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0) << vnb_error();
    EXPECT_EQ(s.listing.items.size(), 2u);
    EXPECT_EQ(server.close2_sids, std::vector<uint16_t>{kSid});
}

// Replies that lie or fall short: the listing fails with -2 and its text,
// the folder is closed, a search still open is ended with FIND_CLOSE2, and
// the previous listing stays.
TEST_F(DirList, LyingRepliesFailCleanly)
{
    using Bend = std::function<void(Bytes &)>;
    auto set = [](size_t off, uint32_t v) -> Bend { return [=](Bytes &m) { sp::set16(m, off, v); }; };
    auto params = [](uint32_t n) -> Bend {
        return [=](Bytes &m) {
            sp::set16(m, sp::kRepParamCount, n);
            sp::set16(m, sp::kRepTotalParams, n);
        };
    };
    struct Case {
        const char *what;
        Step step;
        Bend bend;
        const char *text;
        bool close2;
    } cases[] = {
        {"first: 8 parameter bytes", kFirst, params(8),
         "FIND_FIRST2 reply carries 8 parameter bytes", false},
        {"first: parameters outside", kFirst, set(sp::kRepParamOffset, 0),
         "FIND_FIRST2 parameters lie outside the frame", false},
        {"first: data outside", kFirst, [](Bytes &m) { m.pop_back(); },
         "FIND_FIRST2 data lies outside the frame", true},
        {"next: WordCount 2", kNext, [](Bytes &m) { m[32] = 2; }, "FIND_NEXT2 reply WordCount 2", true},
        {"next: 4 parameter bytes", kNext, params(4),
         "FIND_NEXT2 reply carries 4 parameter bytes", true},
        {"next: data outside", kNext, set(sp::kRepDataOffset, 60000), "FIND_NEXT2 data lies outside the frame",
         true},
        {"next: a part of a split reply", kNext, set(sp::kRepDataDisp, 8), nullptr, true},
    };
    server.close2_status = 0xC0000008;
    // A listing to keep.
    server.ents = {file("keep")};
    ASSERT_EQ(vnb_query_directory_all(s, "", 3), 0);
    const std::string kept = items();

    for (int i = 0; i < 120; i++)
        server.ents.push_back(file("f" + std::to_string(i)));
    for (const Case &c : cases) {
        server.bend = [&](Bytes &m, Step s, int) {
            if (s == c.step)
                c.bend(m);
        };
        server.close2_sids.clear();
        server.closes = 0;
        s.last_status = 0x1234;
        EXPECT_EQ(vnb_query_directory_all(s, "", 3), -2) << c.what;
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text) << c.what;
        }
        EXPECT_EQ(server.closes, 1) << c.what;
        EXPECT_EQ(server.close2_sids.size(), c.close2 ? 1u : 0u) << c.what;
        EXPECT_EQ(s.last_status, 0x1234u) << c.what << ": clean-up after a failure records nothing";
        EXPECT_EQ(items(), kept) << c.what;
    }
}

// A search the server refuses fails with its status, worded with the folder
// (NT or DOS form), and the folder is closed; a refused FIND_NEXT2 also ends
// the search. The end of a search in DOS form ends the listing as NT does.
TEST_F(DirList, SearchStatusesInNtAndDosForm)
{
    using Bend = std::function<Bytes(const Bytes &)>;
    auto nt = [](uint32_t st) -> Bend { return [st](const Bytes &m) { return status_only(m, st); }; };
    auto dos = [](uint32_t st) -> Bend { return [st](const Bytes &m) { return dos_status_only(m, st); }; };
    struct Case {
        const char *what;
        Step step;
        Bend bend;
        int32_t rc;  // a count of items when not negative
        const char *text;
        bool close2;
    } cases[] = {
        {"NT: path not found", kFirst, nt(0xC000003A), -4, "FIND_FIRST2 \\: OBJECT_PATH_NOT_FOUND", false},
        {"NT: access denied", kFirst, nt(0xC0000022), -3, "FIND_FIRST2 \\: ACCESS_DENIED", false},
        {"DOS: ERRnoaccess", kFirst, dos(0x00050001), -3, "FIND_FIRST2 \\: ERRnoaccess", false},
        {"DOS: ERRbadpath", kFirst, dos(0x00030001), -4, "FIND_FIRST2 \\: ERRbadpath", false},
        {"DOS: ERRread on FIND_NEXT2", kNext, dos(0x001E0003), -2, "FIND_NEXT2 \\: ERRread", true},
        {"DOS: nothing found (ERRbadfile)", kFirst, dos(0x00020001), 0, nullptr, false},
        {"DOS: nothing found (ERRnofiles)", kFirst, dos(0x00120001), 0, nullptr, false},
        {"DOS: ERRnofiles ends the search", kNext, dos(0x00120001), 2, nullptr, true},
    };
    server.page = 2;
    server.ents = {file("a"), file("b"), file("c")};
    for (const Case &c : cases) {
        server.bend = [&](Bytes &m, Step s, int) {
            if (s == c.step)
                m = c.bend(m);
        };
        server.close2_sids.clear();
        server.closes = 0;
        int32_t rc = vnb_query_directory_all(s, "", 3);
        if (c.rc < 0) {
            EXPECT_EQ(rc, c.rc) << c.what;
            EXPECT_STREQ(vnb_error(), c.text) << c.what;
            EXPECT_EQ(s.last_code, c.rc) << c.what;
        } else {
            EXPECT_EQ(rc, 0) << c.what << ": " << vnb_error();
            EXPECT_EQ(s.listing.items.size(), static_cast<size_t>(c.rc)) << c.what;
        }
        EXPECT_EQ(server.closes, 1) << c.what;
        EXPECT_EQ(server.close2_sids.size(), c.close2 ? 1u : 0u) << c.what;
    }
}

// A reply that announces more than it carries is the first part of a split
// reply; when the rest never comes the listing fails, and nothing more is
// sent on a connection where the server may still be sending.
TEST_F(DirList, SplitReplyWithoutItsRestFails)
{
    server.ents = {file("a")};
    server.bend = [](Bytes &m, Step, int) { sp::set16(m, sp::kRepTotalData, 60000); };
    EXPECT_LT(vnb_query_directory_all(s, "", 3), 0);
    EXPECT_EQ(commands().back(), smb::TRANSACTION2);
    EXPECT_EQ(server.closes, 0);
    EXPECT_EQ(items(), "(none)");
}

// A FIND reply the server sends as several messages is joined; a part that
// leaves a gap fails the listing.
TEST_F(DirList, FindRepliesInSeveralMessages)
{
    for (int i = 0; i < 40; i++)
        server.ents.push_back(file("f" + std::to_string(i)));
    server.page = 100;
    // The data block in pieces of 500 bytes, each its own message.
    auto split = [](const Bytes &whole, size_t piece, uint32_t gap_in_part) {
        uint32_t param_count = sp::get16(whole, sp::kRepParamCount);
        uint32_t data_count = sp::get16(whole, sp::kRepDataCount);
        Bytes params(whole.begin() + sp::get16(whole, sp::kRepParamOffset),
                     whole.begin() + sp::get16(whole, sp::kRepParamOffset) + param_count);
        Bytes data(whole.begin() + sp::get16(whole, sp::kRepDataOffset),
                   whole.begin() + sp::get16(whole, sp::kRepDataOffset) + data_count);
        std::vector<Bytes> out;
        for (uint32_t at = 0, n = 0; at < data_count; at += static_cast<uint32_t>(piece), n++) {
            Bytes chunk(data.begin() + at, data.begin() + std::min<size_t>(data_count, at + piece));
            Bytes m = sp::trans_reply(whole, n == 0 ? params : Bytes{}, chunk);
            sp::set16(m, sp::kRepTotalParams, param_count);
            sp::set16(m, sp::kRepTotalData, data_count);
            sp::set16(m, sp::kRepParamDisp, n == 0 ? 0 : param_count);
            sp::set16(m, sp::kRepDataDisp, at + (n + 1 == gap_in_part ? 8 : 0));
            out.push_back(m);
        }
        return out;
    };
    for (uint32_t gap_in_part : {0u, 3u}) {
        SCOPED_TRACE(gap_in_part);
        peer.respond = [&](const Bytes &req) {
            std::vector<Bytes> replies = server(req);
            if (sp::command_of(req) != smb::TRANSACTION2 || replies.empty())
                return replies;
            return split(replies[0], 500, gap_in_part);
        };
        int32_t rc = vnb_query_directory_all(s, "", 3);
        if (gap_in_part == 0) {
            ASSERT_EQ(rc, 0) << vnb_error();
            EXPECT_EQ(s.listing.items.size(), 40u);
            EXPECT_EQ(s.listing.items[39].name, "f39");
        } else {
            EXPECT_EQ(rc, -2);
            EXPECT_EQ(std::string(vnb_error()).rfind("FIND_FIRST2 reply part 3 does not continue", 0), 0u)
                << vnb_error();
            EXPECT_EQ(s.listing.items.size(), 40u) << "the listing before stays";
        }
    }
}

TEST_F(DirList, ExchangeFailureSendsNoCleanUp)
{
    for (int i = 0; i < 120; i++)
        server.ents.push_back(file("f" + std::to_string(i)));
    server.silent = [](Step s, int) { return s == kNext; };
    int32_t rc = vnb_query_directory_all(s, "", 3);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(commands().back(), smb::TRANSACTION2) << "nothing after the lost reply";
    EXPECT_EQ(server.closes, 0);
}

TEST_F(DirList, OpenFailureIsReturnedAsItIs)
{
    server.create_status = 0xC000003A;  // OBJECT_PATH_NOT_FOUND
    EXPECT_EQ(vnb_query_directory_all(s, "nowhere", 3), -4);
    EXPECT_NE(std::string(vnb_error()).rfind("OPEN DIR: ", 0), std::string::npos) << vnb_error();
    EXPECT_EQ(commands(), std::vector<uint8_t>{smb::NT_CREATE_ANDX});
}

TEST_F(DirList, PagesOfNamesNeverListedStillEnd)
{
    // A server with more hidden names than the listing ever looks at: the
    // listing ends, and says it did not see the whole folder.
    for (int i = 0; i < 23000; i++)
        server.ents.push_back(file(".h" + std::to_string(i)));
    server.page = 1000;
    ListingLimits limits;
    limits.entries_seen = 20000;
    EXPECT_EQ(vnb_query_directory_all(s, "", 3, false, limits), -7);
    EXPECT_STREQ(vnb_error(), "the folder (the share's top) holds more than 20000 entries (hidden ones, \".\" and "
                              "\"..\" included), the most a listing reads");
    EXPECT_FALSE(s.listing.held);
    EXPECT_GE(server.pos, 20000u);
    EXPECT_LT(server.pos, 21000u);
    EXPECT_EQ(server.close2_sids.size(), 1u);
}

// ---- against the in-process fake server ----

constexpr const char *kFakeTree = R"({"shares":[{"name":"media","root":[
    {"name":"sub","generate":120},
    {"name":"sixty","generate":60000},
    {"name":"mixed","children":[{"name":".hidden"},{"name":"$x"},{"name":"@eaDir","children":[]},
        {"name":"a \"q\" \\ b"},{"name":"\ud83d\ude00.mkv","size":5},{"name":"Caf\u00e9","children":[]}]}]}],
    "users":[{"name":"bob","pass":"secret"}]})";

struct FakeCase {
    const char *what;
    const char *fault;  // switched on before the logon, or NULL
    int32_t value;
    const char *also;   // a second switch, set to 1, or NULL
};

// Keeps a copy of every reply the session receives.
class RecordingTransport : public MsgTransport {
public:
    RecordingTransport(std::unique_ptr<MsgTransport> inner, std::vector<Bytes> &replies)
        : inner_(std::move(inner)), replies_(replies)
    {
    }
    int32_t open(const char *host, int port, int timeout_ms) override { return inner_->open(host, port, timeout_ms); }
    int32_t send(std::span<const uint8_t> msg) override { return inner_->send(msg); }
    int32_t recv(ByteBuffer &msg, int timeout_ms) override
    {
        int32_t rc = inner_->recv(msg, timeout_ms);
        if (rc == 0)
            replies_.emplace_back(msg.data, msg.data + msg.len);
        return rc;
    }
    void close() override { inner_->close(); }
    bool pipelines() const override { return inner_->pipelines(); }

private:
    std::unique_ptr<MsgTransport> inner_;
    std::vector<Bytes> &replies_;
};

class FakeDirList : public ::testing::TestWithParam<FakeCase> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(vnb_fake_load(kFakeTree), 0);
        if (GetParam().fault) {
            ASSERT_EQ(vnb_fake_fault(GetParam().fault, GetParam().value), 0);
        }
        if (GetParam().also) {
            ASSERT_EQ(vnb_fake_fault(GetParam().also, 1), 0);
        }
        s.transport = std::make_unique<RecordingTransport>(sp::fake_transport(), replies);
        std::strcpy(s.host, "fake");
        std::strcpy(s.user, "bob");
        std::strcpy(s.password, "secret");
        s.domain[0] = '\0';
        s.anonymous = 0;
        s.flags2 = 0;
        ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
        ASSERT_EQ(vnb_tree_find_or_connect(s, "media", &tid), 0) << vnb_error();
        vnb_fake_fault("reset_counts", 0);
        s.last_status = 0;
    }
    void TearDown() override
    {
        vnb_sess_drop(s);
        vnb_fake_load(nullptr);
    }
    rapidjson::Document listing() const
    {
        rapidjson::Document d;
        d.Parse<rapidjson::kParseValidateEncodingFlag>(vnb_listing_json(s.listing).c_str());
        EXPECT_FALSE(d.HasParseError());
        return d;
    }
    uint32_t tid = 0;
    Session s;
    std::vector<Bytes> replies;
};

TEST_P(FakeDirList, FolderOf120InPages)
{
    ASSERT_EQ(vnb_query_directory_all(s, "sub", tid), 0) << vnb_error();
    EXPECT_EQ(s.listing.items.size(), 120u);
    EXPECT_EQ(s.listing.hidden, 0u);
    // ".", ".." and 120 names in pages of 50 (or of the "page" switch).
    int page = std::string(GetParam().what) == "small_pages" ? GetParam().value : 50;
    EXPECT_EQ(vnb_fake_count(smb::TRANSACTION2), (122 + page - 1) / page);
    EXPECT_EQ(vnb_fake_count(kFindClose2), 0);
    EXPECT_EQ(vnb_fake_count(smb::CLOSE), 1);
    rapidjson::Document d = listing();
    std::vector<bool> seen(120);
    for (const auto &item : d["items"].GetArray()) {
        std::string name = item["name"].GetString();
        ASSERT_EQ(name[0], 'f');
        int i = std::stoi(name.substr(1));
        EXPECT_FALSE(seen.at(static_cast<size_t>(i))) << name;
        seen[static_cast<size_t>(i)] = true;
        EXPECT_EQ(item["path"].GetString(), "sub/" + name);
        EXPECT_EQ(item["size"].GetInt64(), i);
        EXPECT_EQ(item["mtime_ms"].GetInt64(), (1700000000LL + i) * 1000);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 120);
}

TEST_P(FakeDirList, FolderOf60000ListsWhole)
{
    ASSERT_EQ(vnb_query_directory_all(s, "sixty", tid), 0) << vnb_error();
    EXPECT_EQ(s.listing.items.size(), 60000u);
    EXPECT_EQ(vnb_fake_count(kFindClose2), 0) << "the server ended the search itself";
    EXPECT_EQ(listing()["items"].Size(), 60000u);
}

TEST_P(FakeDirList, FolderBeyondTheLimitFailsAndClosesTheSearch)
{
    ListingLimits limits;
    limits.items = 50000;
    ASSERT_EQ(vnb_query_directory_all(s, "sixty", tid, false, limits), -7);
    EXPECT_STREQ(vnb_error(), "the folder sixty holds more than 50000 entries, the most a listing takes");
    EXPECT_FALSE(s.listing.held);
    EXPECT_EQ(vnb_fake_count(kFindClose2), 1);
    EXPECT_EQ(vnb_fake_count(smb::CLOSE), 1);
    // Its reply was the last one, and it carries the right signature on a
    // signed session.
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.back()[4], kFindClose2);
    if (sess_signs(s)) {
        EXPECT_EQ(sess_verify(s, s.sign_seq - 1, replies.back()), 1);
    }
    EXPECT_EQ(s.last_status, 0u);
    // The session goes on: the next listing finds a working server.
    ASSERT_EQ(vnb_query_directory_all(s, "sub", tid), 0) << vnb_error();
    EXPECT_EQ(s.listing.items.size(), 120u);
}

TEST_P(FakeDirList, HiddenAndAwkwardNames)
{
    ASSERT_EQ(vnb_query_directory_all(s, "mixed", tid), 0) << vnb_error();
    EXPECT_EQ(s.listing.hidden, 3u);
    rapidjson::Document d = listing();
    std::vector<std::string> names;
    for (const auto &item : d["items"].GetArray())
        names.push_back(item["name"].GetString());
    std::sort(names.begin(), names.end());
    if (s.flags2 & 0x8000) {
        EXPECT_EQ(names, (std::vector<std::string>{"Caf\xC3\xA9", "a \"q\" \\ b", "\xF0\x9F\x98\x80.mkv"}));
    } else {
        // 8-bit names in CP850 both ways; the emoji has no place in it, and
        // this server leaves it out.
        EXPECT_EQ(names, (std::vector<std::string>{"Caf\xC3\xA9", "a \"q\" \\ b"}));
    }
    EXPECT_NE(vnb_listing_json(s.listing).find(R"("name":"a \"q\" \\ b")"), std::string::npos);
}

TEST_P(FakeDirList, StringsFollowTheServersUnicodeCapability)
{
    EXPECT_EQ((s.flags2 & 0x8000) != 0, std::string(GetParam().what) != "oem") << std::hex << s.flags2;
    EXPECT_EQ(s.ext_security, GetParam().fault && std::string(GetParam().fault) == "no_extsec" ? 0 : 1);
}

TEST_P(FakeDirList, MissingFolderFailsAtTheOpen)
{
    EXPECT_EQ(vnb_query_directory_all(s, "nowhere", tid), -4);
    EXPECT_EQ(vnb_fake_count(smb::TRANSACTION2), 0);
}

INSTANTIATE_TEST_SUITE_P(Sessions, FakeDirList,
                         ::testing::Values(FakeCase{"unicode", nullptr, 0, nullptr},
                                           FakeCase{"basic", "no_extsec", 1, nullptr},
                                           FakeCase{"basic_signed", "no_extsec", 1, "sign_required"},
                                           FakeCase{"oem", "no_extsec", 1, "no_unicode"},
                                           FakeCase{"signed", "sign_required", 1, nullptr},
                                           FakeCase{"small_pages", "page", 7, nullptr}),
                         [](const ::testing::TestParamInfo<FakeCase> &i) { return std::string(i.param.what); });

// ---- entry decoding and item text, without a server ----

class Items : public ::testing::Test {
protected:
    void SetUp() override
    {
        work = std::make_unique<ListingWork>();
        q = work.get();
        q->unicode = 1;
    }
    // The entries as item JSON, comma-separated.
    std::string text() const
    {
        std::string out;
        for (const DirEntry &e : q->items)
            out += (out.empty() ? "" : ",") + vnb_item_json(e);
        return out;
    }
    std::unique_ptr<ListingWork> work;
    ListingWork *q = nullptr;
};

TEST_F(Items, EscapingInNamesAndPaths)
{
    struct Case {
        const char *name;
        const char *json;  // the escaped name
    } cases[] = {
        {"say \"hi\"", R"(say \"hi\")"},
        {"back\\slash", R"(back\\slash)"},
        {"tab\there", R"(tab\there)"},
        {"nl\ncr\r", R"(nl\ncr\r)"},
        {"one\x01", R"(one\u0001)"},
        {"unit\x1f", R"(unit\u001F)"},
        {"bs\bff\f", R"(bs\bff\f)"},
        {"del\x7f", "del\x7f"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"smile \xF0\x9F\x98\x80", "smile \xF0\x9F\x98\x80"},
        {"slash/", "slash/"},
    };
    std::strcpy(q->folder, "dir\"x");
    for (const Case &c : cases) {
        q->items.clear();
        qd_feed(c.name, 7, 8, 0, q);
        std::string expected = std::string("{\"name\":\"") + c.json + "\",\"path\":\"dir\\\"x/" + c.json +
                               "\",\"folder\":false,\"size\":7,\"mtime_ms\":8,\"hidden\":false}";
        EXPECT_EQ(text(), expected) << c.json;
        // And it reads back as the same text.
        std::string doc = "{\"items\":[" + text() + "]}";
        rapidjson::Document d;
        d.Parse<rapidjson::kParseValidateEncodingFlag>(doc.c_str());
        ASSERT_FALSE(d.HasParseError()) << c.json;
        EXPECT_STREQ(d["items"][0]["name"].GetString(), c.name);
    }
}

TEST_F(Items, FeedCountsAndCaps)
{
    qd_feed(".", 0, 0, 1, q);
    qd_feed("..", 0, 0, 1, q);
    qd_feed("@x", 0, 0, 0, q);
    EXPECT_EQ(q->items.size(), 0u);
    EXPECT_EQ(q->hidden, 1u);
    q->limits.items = 1000;
    q->items.resize(1000);
    EXPECT_FALSE(q->over_limit);
    qd_feed("late", 0, 0, 0, q);
    EXPECT_EQ(q->items.size(), 1000u);
    EXPECT_EQ(q->items.back().name, "") << "nothing past the limit";
    EXPECT_TRUE(q->over_limit);
    qd_feed(".late", 0, 0, 0, q);
    EXPECT_EQ(q->hidden, 2u) << "hidden names are counted past the cap too";
}

TEST_F(Items, NonBmpNamesFromTheWire)
{
    // U+1F600 as a surrogate pair, U+10FFFF, and an unpaired surrogate.
    const Bytes pair{0x3D, 0xD8, 0x00, 0xDE, 'a', 0};
    const Bytes top{0xFF, 0xDB, 0xFF, 0xDF};
    const Bytes lone{'b', 0, 0x3D, 0xD8};
    Bytes data = block({{pair, kAttrFile, 1, 0}, {top, kAttrFile, 1, 0}, {lone, kAttrFile, 1, 0}});
    EXPECT_EQ(find_parse(data.data(), data.size(), 3, q), 3);
    EXPECT_EQ(text(),
              "{\"name\":\"\xF0\x9F\x98\x80" "a\",\"path\":\"\xF0\x9F\x98\x80" "a\",\"folder\":false,\"size\":1,"
              "\"mtime_ms\":-1,\"hidden\":false},"
              "{\"name\":\"\xF4\x8F\xBF\xBF\",\"path\":\"\xF4\x8F\xBF\xBF\",\"folder\":false,\"size\":1,"
              "\"mtime_ms\":-1,\"hidden\":false},"
              "{\"name\":\"\",\"path\":\"\",\"folder\":false,\"size\":1,\"mtime_ms\":-1,\"hidden\":false}");
    EXPECT_EQ(Bytes(q->last_name, q->last_name + q->last_name_len), lone);
}

// A block holds exactly the entries its SearchCount states; anything less,
// or a chain that leaves the block, fails the page with -2.
TEST_F(Items, EntryChainsHoldWhatTheCountSays)
{
    const Ent a = file("a"), bb = file("bb");
    auto two = [&](uint32_t next) {
        Bytes b = entry(a, next);
        sp::append(b, entry(bb, 0));
        return b;
    };
    auto bent = [&](size_t at, uint8_t v, int n) {
        Bytes b = entry(a, 0);
        std::memset(b.data() + at, v, static_cast<size_t>(n));
        return b;
    };
    struct Case {
        const char *what;
        Bytes data;
        uint32_t count;
        int result;
        const char *text;
    } cases[] = {
        {"well formed", two(~0u), 2, 2, nullptr},
        {"the last entry's NextEntryOffset is not looked at", two(~0u), 1, 1, nullptr},
        {"no entries, no data", Bytes{}, 0, 0, nullptr},
        {"NextEntryOffset 0 before the count", two(0), 2, -2, "FIND entry chain ends after 1 of 2 entries"},
        {"NextEntryOffset inside the entry", two(95), 2, -2,
         "FIND entry 1 of 2: NextEntryOffset 95 runs off the entry or the data"},
        {"NextEntryOffset past the data", two(100000), 2, -2,
         "FIND entry 1 of 2: NextEntryOffset 100000 runs off the entry or the data"},
        {"NextEntryOffset 0xFFFFFFFE", two(0xFFFFFFFE), 2, -2,
         "FIND entry 1 of 2: NextEntryOffset 4294967294 runs off the entry or the data"},
        {"SearchCount above the entries", two(~0u), 3, -2, "FIND entry chain ends after 2 of 3 entries"},
        {"fewer than 94 bytes", Bytes(93, 0), 1, -2, "FIND entry 1 of 1 lies outside the 93 data bytes"},
        {"a count without data", Bytes{}, 1, -2, "FIND entry 1 of 1 lies outside the 0 data bytes"},
        {"name length 0", bent(60, 0, 4), 1, -2, "FIND entry 1 of 1 has no name inside the data"},
        {"name past the block", bent(60, 0xFF, 2), 1, -2, "FIND entry 1 of 1 has no name inside the data"},
        {"name length near 2^32", bent(60, 0xFF, 4), 1, -2, "FIND entry 1 of 1 has no name inside the data"},
        {"odd UTF-16 length", [&] { Bytes b = entry(a, 0); b[60] = 1; return b; }(), 1, 1, nullptr},
        {"a file size beyond 2^63", [&] { Bytes b = entry(file("a", 1ULL << 63), 0); return b; }(), 1, -2,
         "FIND entry 1 of 1 gives a size of 9223372036854775808 bytes"},
        {"a folder's size is not looked at", [&] { Ent d = file("d", ~0ULL); d.attrs = 0x10; return entry(d, 0); }(), 1,
         1, nullptr},
        {"the same name twice", [&] { Bytes b = entry(a); sp::append(b, entry(a, 0)); return b; }(), 2, -2,
         "the server listed \"a\" twice: its search did not continue where it was asked to"},
    };
    for (const Case &c : cases) {
        q->items.clear();
        q->seen.clear();
        EXPECT_EQ(find_parse(c.data.data(), c.data.size(), c.count, q), c.result) << c.what;
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text) << c.what;
        }
    }
}

}  // namespace
