// Folder searches: FIND_FIRST2, FIND_NEXT2, FIND_CLOSE2 and the directory
// entries they carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "fake_client.h"
#include "util/smb1_wire.h"

using namespace fk;

namespace {

constexpr const char *kTree = R"({"shares":[{"name":"media","root":[
    {"name":"a.txt","text":"hello","mtime":1600000000},
    {"name":"docs","children":[{"name":"b.txt","size":70000},{"name":"c.mkv"},{"name":"sub","children":[]}]},
    {"name":"sub","generate":120},
    {"name":"case","children":[{"name":"ab","size":1},{"name":"Ab","size":2}]},
    {"name":"odd","children":[{"name":"x"},7,{"name":"y"}]},
    {"name":"sixty","generate":60000}]}],
    "users":[{"name":"bob","pass":"secret"}]})";

struct Entry {
    std::string name;
    uint32_t file_index;
    uint64_t write_time;
    uint64_t eof;
    uint64_t allocation;
    uint32_t attributes;
};

// Decodes a data block of SMB_FIND_FILE_BOTH_DIRECTORY_INFO entries and
// checks the chain: 8-byte aligned lengths, 0 in the last entry, which
// LastNameOffset names.
std::vector<Entry> entries(const Bytes &data, size_t last_name_offset, bool unicode = true)
{
    std::vector<Entry> out;
    size_t at = 0;
    bool ended = data.empty();
    while (at < data.size()) {
        EXPECT_LE(at + 94, data.size());
        if (at + 94 > data.size())
            break;
        uint32_t next = r32(data, at);
        uint32_t len = r32(data, at + 60);
        EXPECT_LE(at + 94 + len, data.size());
        Entry e;
        char name[2100];
        if (unicode) {
            EXPECT_LE(0, vnb_utf16_to_utf8(data.data() + at + 94, len, name, sizeof name));
            e.name = name;
        } else {
            EXPECT_GE(len, 1u);
            EXPECT_EQ(0, data[at + 94 + len - 1]);
            e.name.assign(reinterpret_cast<const char *>(data.data() + at + 94), len - 1);
        }
        e.file_index = r32(data, at + 4);
        e.write_time = r64(data, at + 24);
        e.eof = r64(data, at + 40);
        e.allocation = r64(data, at + 48);
        e.attributes = r32(data, at + 56);
        EXPECT_EQ(0, data[at + 68]);  // ShortNameLength
        out.push_back(e);
        if (next == 0) {
            ended = true;
            EXPECT_EQ(last_name_offset, at);
            EXPECT_EQ(data.size(), (at + 94 + len + 7) / 8 * 8);
            break;
        }
        EXPECT_EQ(0u, next % 8);
        EXPECT_EQ((94 + len + 7) / 8 * 8, next);
        at += next;
    }
    EXPECT_TRUE(ended) << "the last entry's NextEntryOffset is not 0";
    return out;
}

std::vector<std::string> names(const std::vector<Entry> &es)
{
    std::vector<std::string> out;
    for (const Entry &e : es)
        out.push_back(e.name);
    return out;
}

class FakeFind : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, vnb_fake_load(kTree));
        ASSERT_EQ(0u, c.negotiate().status());
        ASSERT_EQ(0u, c.logon("bob", "secret").status());
        tid = c.connect("media");
    }

    struct Page {
        Reply reply;
        uint16_t sid = 0;
        uint16_t count = 0;
        bool eos = false;
        std::vector<Entry> items;
    };

    Page first(const std::string &pattern, uint16_t count = 200, uint16_t flags = 0, uint16_t max_data = 0xFFFF)
    {
        Page p;
        p.reply = c.send(trans2_req(tid, 1, find_first_params(pattern, count, flags), max_data));
        if (p.reply.status() != 0)
            return p;
        Bytes prm = p.reply.params();
        EXPECT_EQ(10u, prm.size());
        p.sid = r16(prm, 0);
        p.count = r16(prm, 2);
        p.eos = r16(prm, 4) != 0;
        p.items = entries(p.reply.data(), r16(prm, 8));
        EXPECT_EQ(p.count, p.items.size());
        EXPECT_LE(p.reply.msg.size(), 16644u);
        return p;
    }

    Page next(uint16_t sid, uint16_t count = 200, uint16_t flags = 0, const std::string &resume = "")
    {
        Page p;
        p.sid = sid;
        p.reply = c.send(trans2_req(tid, 2, find_next_params(sid, count, flags, resume)));
        if (p.reply.status() != 0)
            return p;
        Bytes prm = p.reply.params();
        EXPECT_EQ(8u, prm.size());
        p.count = r16(prm, 0);
        p.eos = r16(prm, 2) != 0;
        p.items = entries(p.reply.data(), r16(prm, 6));
        EXPECT_EQ(p.count, p.items.size());
        EXPECT_LE(p.reply.msg.size(), 16644u);
        return p;
    }

    // Every name of a search, page by page.
    std::vector<std::string> list_all(const std::string &pattern, size_t *pages)
    {
        std::vector<std::string> all;
        Page p = first(pattern);
        EXPECT_EQ(0u, p.reply.status());
        *pages = 1;
        for (const Entry &e : p.items)
            all.push_back(e.name);
        while (!p.eos && p.reply.status() == 0 && *pages < 100000) {
            p = next(p.sid);
            EXPECT_EQ(0u, p.reply.status());
            EXPECT_GT(p.count, 0);
            for (const Entry &e : p.items)
                all.push_back(e.name);
            ++*pages;
        }
        return all;
    }

    Client c;
    uint16_t tid = 0;
};

std::vector<std::string> generated_sorted(int n)
{
    std::vector<std::string> v;
    for (int i = 0; i < n; i++)
        v.push_back("f" + std::to_string(i));
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(FakeFind, PagesOfAFolderOf120Entries)
{
    Page p1 = first("sub\\*");
    ASSERT_EQ(0u, p1.reply.status());
    EXPECT_EQ(10, p1.reply.wc());
    EXPECT_EQ(0u, p1.reply.word(4) % 4);  // ParameterOffset
    EXPECT_EQ(0u, p1.reply.word(7) % 4);  // DataOffset
    EXPECT_EQ(50, p1.count);
    EXPECT_FALSE(p1.eos);
    EXPECT_EQ(".", p1.items[0].name);
    EXPECT_EQ("..", p1.items[1].name);
    Page p2 = next(p1.sid);
    EXPECT_EQ(50, p2.count);
    EXPECT_FALSE(p2.eos);
    Page p3 = next(p1.sid);
    EXPECT_EQ(22, p3.count);
    EXPECT_TRUE(p3.eos);

    std::vector<std::string> got;
    for (const Page *p : {&p1, &p2, &p3})
        for (size_t i = 0; i < p->items.size(); i++)
            got.push_back(p->items[i].name);
    std::vector<std::string> expected = {".", ".."};
    for (const std::string &n : generated_sorted(120))
        expected.push_back(n);
    EXPECT_EQ(expected, got);

    // The search is still open at its end: one more FIND_NEXT2 finds nothing
    // and ends it.
    EXPECT_EQ(STATUS_NO_MORE_FILES, next(p1.sid).reply.status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, next(p1.sid).reply.status());
}

TEST_F(FakeFind, PageSize)
{
    struct {
        int32_t page;
        uint16_t search_count;
        uint16_t expected;
    } cases[] = {{7, 200, 7}, {0, 200, 50}, {-3, 200, 50}, {50, 5, 5}, {50, 0, 50}, {1000, 1000, 122}};
    for (const auto &tc : cases) {
        ASSERT_EQ(0, vnb_fake_fault("page", tc.page));
        Page p = first("sub\\*", tc.search_count, 0x0001);
        EXPECT_EQ(tc.expected, p.count) << tc.page << " " << tc.search_count;
    }
}

TEST_F(FakeFind, SixtyThousandEntries)
{
    size_t pages = 0;
    std::vector<std::string> all = list_all("sixty\\*", &pages);
    std::vector<std::string> expected = {".", ".."};
    for (const std::string &n : generated_sorted(60000))
        expected.push_back(n);
    EXPECT_EQ(expected, all);
    EXPECT_EQ((60002 + 49) / 50, pages);
}

TEST_F(FakeFind, RepliesFitTheClientBuffer)
{
    ASSERT_EQ(0, vnb_fake_fault("page", 5000));
    size_t pages = 0;
    std::vector<std::string> all = list_all("sixty\\*", &pages);
    EXPECT_EQ(60002u, all.size());
    EXPECT_EQ(60002u, std::set<std::string>(all.begin(), all.end()).size());
    EXPECT_GT(pages, 60002u / 200);  // each reply stopped at the 16644-byte limit
    // MaxDataCount limits the data block too.
    Page small = first("sixty\\*", 200, 0x0001, 1000);
    EXPECT_LE(small.reply.word(6), 1000);
    EXPECT_GT(small.count, 0);
}

TEST_F(FakeFind, EntryFields)
{
    Page p = first("*");
    ASSERT_EQ(0u, p.reply.status());
    ASSERT_GE(p.items.size(), 3u);
    EXPECT_EQ(".", p.items[0].name);  // a share root has no ".."
    EXPECT_EQ("a.txt", p.items[1].name);
    const Entry &a = p.items[1];
    EXPECT_EQ(1002u, a.file_index);
    EXPECT_EQ((1600000000ull + 11644473600ull) * 10000000ull, a.write_time);
    EXPECT_EQ(5u, a.eof);
    EXPECT_EQ(65536u, a.allocation);
    EXPECT_EQ(0x21u, a.attributes);
    EXPECT_EQ(0x11u, p.items[0].attributes);
    EXPECT_EQ(1001u, p.items[0].file_index);

    Page d = first("docs\\*");
    EXPECT_EQ((std::vector<std::string>{".", "..", "b.txt", "c.mkv", "sub"}), names(d.items));
    EXPECT_EQ(131072u, d.items[2].allocation);
    EXPECT_EQ(0x11u, d.items[1].attributes);
}

TEST_F(FakeFind, PatternsAndFolders)
{
    struct {
        const char *pattern;
        uint32_t status;
        std::vector<std::string> names;
    } cases[] = {
        {"docs\\*.MKV", 0, {"c.mkv"}},
        {"\\docs\\b.txt", 0, {"b.txt"}},
        {"docs/?.txt", 0, {"b.txt"}},
        {"docs\\", 0, {".", "..", "b.txt", "c.mkv", "sub"}},
        {"DOCS\\SUB\\*", 0, {".", ".."}},
        {"docs\\*.avi", 0xC000000F, {}},
        {"nope\\*", STATUS_OBJECT_PATH_NOT_FOUND, {}},
        {"a.txt\\*", STATUS_OBJECT_PATH_NOT_FOUND, {}},
        {"docs\\..\\*", STATUS_OBJECT_PATH_NOT_FOUND, {}},
        {"odd\\*", 0, {".", "..", "x", "y"}},  // a nameless entry is never listed
    };
    for (const auto &tc : cases) {
        Page p = first(tc.pattern, 200, 0x0002);
        EXPECT_EQ(tc.status, p.reply.status()) << tc.pattern;
        EXPECT_EQ(tc.names, names(p.items)) << tc.pattern;
    }
}

TEST_F(FakeFind, BadFindFirstRequests)
{
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(trans2_req(tid, 1, find_first_params("*", 200, 0, 0x0101))).status());
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(trans2_req(tid, 1, Bytes(11, 0))).status());
    Bytes lone = find_first_params("*");
    lone[12] = 0x00;
    lone[13] = 0xDC;  // a lone low surrogate
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(trans2_req(tid, 1, lone)).status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(trans2_req(9, 1, find_first_params("*"))).status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(trans2_req(kIpcTree, 1, find_first_params("*"))).status());
    EXPECT_EQ(STATUS_REQUEST_NOT_SUPPORTED, c.send(trans2_req(tid, 3, Bytes(8, 0))).status());
    EXPECT_EQ(smb::kStatusInvalidLevel, c.send(trans2_req(tid, 5, Bytes(8, 0))).status()) << "a query at level 0";
    // A name without its terminator runs to the end of the parameters.
    Bytes unterminated = find_first_params("docs\\c.mkv");
    unterminated.resize(unterminated.size() - 2);
    Reply r = c.send(trans2_req(tid, 1, unterminated));
    EXPECT_EQ(0u, r.status());
    EXPECT_EQ(1, r16(r.params(), 2));
}

TEST_F(FakeFind, EightBitNamesWithoutUnicode)
{
    Req req = trans2_req(tid, 1, W{}.u16(0x37).u16(200).u16(0).u16(0x0104).u32(0).put(ascii("docs\\*")).b);
    req.flags2 = kOemFlags2;
    Reply r = c.send(req);
    ASSERT_EQ(0u, r.status());
    EXPECT_EQ(0, r.flags2() & 0x8000);
    EXPECT_EQ((std::vector<std::string>{".", "..", "b.txt", "c.mkv", "sub"}),
              names(entries(r.data(), r16(r.params(), 8), false)));
}

TEST_F(FakeFind, FindNextResumesAndRefuses)
{
    Page p = first("sub\\*", 10);
    ASSERT_EQ(10, p.count);
    // A name that is an entry resumes right after it.
    Page after = next(p.sid, 3, 0, "f1");
    EXPECT_EQ((std::vector<std::string>{"f10", "f100", "f101"}), names(after.items));
    Page back = next(p.sid, 2, 0, "..");
    EXPECT_EQ((std::vector<std::string>{"f0", "f1"}), names(back.items));
    // Continue-from-last ignores the name; an unknown name continues too.
    EXPECT_EQ((std::vector<std::string>{"f10"}), names(next(p.sid, 1, 0x0008, "..").items));
    EXPECT_EQ((std::vector<std::string>{"f100"}), names(next(p.sid, 1, 0, "zzz").items));

    EXPECT_EQ(STATUS_INVALID_HANDLE, next(static_cast<uint16_t>(p.sid + 1)).reply.status());
    Req other_tree = trans2_req(2, 2, find_next_params(p.sid));
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(other_tree).status());
    Bytes level = find_next_params(p.sid);
    level[4] = 0x01;
    level[5] = 0x01;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(trans2_req(tid, 2, level)).status());
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(trans2_req(tid, 2, Bytes(8, 0))).status());
}

TEST_F(FakeFind, CloseFlagsAndFindClose2)
{
    Page once = first("sub\\*", 10, 0x0001);  // close after this request
    ASSERT_EQ(10, once.count);
    EXPECT_EQ(STATUS_INVALID_HANDLE, next(once.sid).reply.status());

    Page eos = first("docs\\*", 200, 0x0002);  // close at the end: reached at once
    EXPECT_TRUE(eos.eos);
    EXPECT_EQ(STATUS_INVALID_HANDLE, next(eos.sid).reply.status());

    ASSERT_EQ(0, vnb_fake_fault("page", 100));
    Page paged = first("sub\\*", 100, 0x0002);
    EXPECT_FALSE(paged.eos);
    Page last = next(paged.sid, 100, 0x0002);
    EXPECT_TRUE(last.eos);
    EXPECT_EQ(STATUS_INVALID_HANDLE, next(paged.sid).reply.status());

    Page open = first("sub\\*", 10);
    Reply fc = c.send(find_close2_req(tid, open.sid));
    EXPECT_EQ(0u, fc.status());
    EXPECT_EQ(0x34, fc.command());
    EXPECT_EQ(0, fc.wc());
    EXPECT_EQ(STATUS_INVALID_HANDLE, next(open.sid).reply.status());
    EXPECT_EQ(0u, c.send(find_close2_req(tid, 0x7777)).status());
    Req no_sid = find_close2_req(tid, 1);
    no_sid.words.clear();
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(no_sid).status());
    c.send(logoff_req());
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, c.send(find_close2_req(tid, open.sid)).status());
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, c.send(trans2_req(tid, 1, find_first_params("*"))).status());
}

TEST_F(FakeFind, SearchSlotsRunOut)
{
    std::vector<uint16_t> sids;
    for (int i = 0; i < 64; i++) {
        Page p = first("sub\\*", 1);
        ASSERT_EQ(0u, p.reply.status()) << i;
        sids.push_back(p.sid);
    }
    EXPECT_EQ(64u, std::set<uint16_t>(sids.begin(), sids.end()).size());
    EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, first("sub\\*", 1).reply.status());
    // A search that reached its end (and was never closed) makes room.
    ASSERT_EQ(0, vnb_fake_fault("page", 1000));
    EXPECT_TRUE(next(sids[5], 1000).eos);
    Page p = first("sub\\*", 1);
    EXPECT_EQ(0u, p.reply.status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, next(sids[5]).reply.status());
    EXPECT_EQ(0u, c.send(find_close2_req(tid, sids[6])).status());
    EXPECT_EQ(0u, first("sub\\*", 1).reply.status());
}

TEST_F(FakeFind, SearchSortsTheFolderForLaterOpens)
{
    // Before a search the first entry in tree order answers; afterwards the
    // first in byte order.
    Reply before = c.send(nt_create_req(tid, "case\\AB", false));
    EXPECT_EQ(1u, r64(before.msg, 88));
    Page p = first("case\\*");
    EXPECT_EQ((std::vector<std::string>{".", "..", "Ab", "ab"}), names(p.items));
    Reply after = c.send(nt_create_req(tid, "case\\AB", false));
    EXPECT_EQ(2u, r64(after.msg, 88));
}

}  // namespace
