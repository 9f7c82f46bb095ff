// Folder searches: TRANSACTION2 FIND_FIRST2 and FIND_NEXT2 at the level
// SMB_FIND_FILE_BOTH_DIRECTORY_INFO, and FIND_CLOSE2.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"
#include "util/text.h"

using namespace smb;

namespace {

constexpr size_t kMaxNameBytes = 1024;

struct FindParams {
    uint16_t search_count;
    uint16_t flags;
    uint16_t level;
    char name[2056];
};

uint32_t page_size()
{
    return F.faults.page < 1 ? 50 : static_cast<uint32_t>(F.faults.page);
}

// The NUL-terminated name at offset `at` of the parameter block: 0, or -1
// when it does not convert.
int param_name(const FakeRequest &rq, const FakeTrans &tr, size_t at, char *out, int32_t cap)
{
    out[0] = '\0';
    if (tr.params.size() <= at)
        return 0;
    size_t base = tr.param_off;
    return fake_read_string(rq, base + at, base + tr.params.size(), rq.unicode, out, cap, nullptr) < 0 ? -1 : 0;
}

// Data bytes a FIND reply message carries under find_split (0: all).
size_t split_size()
{
    return F.faults.find_split > 0 ? static_cast<size_t>(F.faults.find_split) : 0;
}

const char *entry_name(const FakeSearch &s, uint32_t i)
{
    if (s.has_self && i == 0)
        return ".";
    if (s.has_parent && i == (s.has_self ? 1u : 0u))
        return "..";
    return s.list[i]->name;
}

// Appends one SMB_FIND_FILE_BOTH_DIRECTORY_INFO entry unless it would take
// the block past `room`: 1 written, 0 no room, -1 name skipped (empty, too
// long, or it does not convert).
int emit(ByteBuffer *data, const FakeNode *n, const char *name, bool unicode, size_t room, bool dbg)
{
    uint8_t enc[kMaxNameBytes + 1];
    size_t name_len;
    if (!*name)
        return -1;  // no real server has a nameless entry; a client would stop at it
    if (unicode) {
        int32_t len = 0;
        if (vnb_utf8_to_utf16le(name, enc, kMaxNameBytes, &len) != 0)
            return -1;
        name_len = static_cast<size_t>(len);
    } else {
        // OEM names carry their NUL; a name the code page cannot hold is
        // left out, as a server that cannot show it.
        if (vnb_utf8_to_oem(kFakeCodePage, name, enc, kMaxNameBytes, &name_len) != 0)
            return -1;
        enc[name_len++] = 0;
    }
    size_t need = (kFindBothDirectoryInfoFixed + name_len + 7) & ~size_t{7};
    size_t pad = need - kFindBothDirectoryInfoFixed - name_len;
    if (dbg)
        fprintf(stderr, "[emit] nm='%s' ulen8=%zu pad=%zu need=%zu at=%zu\n", name, name_len, pad, need,
                static_cast<size_t>(data->len));
    if (data->len + need > room)
        return 0;
    uint64_t t = filetime_from_unix(n->mtime);
    vnb_w32(data, static_cast<uint32_t>(need));  // NextEntryOffset (the last one is cleared)
    vnb_w32(data, static_cast<uint32_t>(n->id));
    for (int i = 0; i < 4; i++)
        vnb_w64(data, t);
    vnb_w64(data, static_cast<uint64_t>(n->size));
    vnb_w64(data, fake_allocation(n));
    vnb_w32(data, fake_attributes(n));
    vnb_w32(data, static_cast<uint32_t>(name_len));
    vnb_w32(data, 0);  // EaSize
    vnb_buf_byte(data, 0);
    vnb_buf_byte(data, 0);
    static constexpr uint8_t kNoShortName[24] = {};
    vnb_buf_put(data, kNoShortName, sizeof kNoShortName);
    vnb_buf_put(data, enc, name_len);
    static constexpr uint8_t kPad[8] = {};
    vnb_buf_put(data, kPad, pad);
    return 1;
}

struct Page {
    ByteBuffer data;
    uint32_t returned;
    size_t last_entry;  // offset of the last entry written
    size_t prev_entry;  // offset of the one before it
};

// The entry chain as the find_chain switch bends it, and the SearchCount
// the reply states.
uint32_t bend_chain(Page *pg)
{
    if (pg->returned < 2 || pg->data.failed)
        return pg->returned;
    uint8_t *d = pg->data.data;
    switch (F.faults.find_chain) {
    case 1:
        memset(d + pg->prev_entry, 0, 4);
        break;
    case 2: {
        uint32_t past = static_cast<uint32_t>(pg->data.len + 8);
        for (int i = 0; i < 4; i++)
            d[i] = static_cast<uint8_t>(past >> (8 * i));
        break;
    }
    case 3:
        return pg->returned + 1;
    default:
        break;
    }
    return pg->returned;
}

// Fills one reply's worth of entries from the search position: 0, or -1
// when not even the first entry fits the room.
int fill_page(FakeSearch &s, uint16_t search_count, bool unicode, size_t room, Page *pg)
{
    uint32_t p = page_size();
    uint32_t want = search_count >= 1 && search_count <= p ? search_count : p;
    bool dbg = getenv("VNSMB1C_DBG") != nullptr;
    while (s.pos < s.count && pg->returned < want) {
        const char *name = entry_name(s, s.pos);
        size_t at = pg->data.len;
        int r = emit(&pg->data, s.list[s.pos], name, unicode, room, dbg);
        if (r == 0)
            break;
        s.pos++;
        if (r > 0) {
            pg->prev_entry = pg->last_entry;
            pg->last_entry = at;
            pg->returned++;
        }
    }
    if (pg->returned > 0 && !pg->data.failed)
        memset(pg->data.data + pg->last_entry, 0, 4);
    if (pg->returned == 0 && s.pos < s.count)
        return -1;
    return 0;
}

FakeSearch *search_slot(FakeServerState &st)
{
    FakeSearch *ended = nullptr;
    for (FakeSearch &s : st.searches) {
        if (!s.used)
            return &s;
        if (s.pos >= s.count && (!ended || s.last_use < ended->last_use))
            ended = &s;
    }
    // All in use: the least recently used search that has already ended
    // makes room (its client never closed it).
    if (ended)
        fake_search_free(ended);
    return ended;
}

FakeSearch *search_by_sid(FakeServerState &st, uint32_t sid, uint32_t tid)
{
    for (FakeSearch &s : st.searches)
        if (s.used && s.sid == sid && s.tid == tid)
            return &s;
    return nullptr;
}

// Builds the result list: "." and ".." when the pattern takes them, then the
// matching entries in name order.
bool start_search(FakeSearch &s, FakeNode *folder, const char *pattern)
{
    bool dbg = getenv("VNSMB1C_DBG") != nullptr;
    fake_sort_children(folder);
    s.list = static_cast<FakeNode **>(malloc((size_t{folder->child_count} + 2) * sizeof(FakeNode *)));
    if (!s.list)
        return false;
    s.folder = folder;
    if (vnb_glob_match(pattern, ".")) {
        s.list[s.count++] = folder;
        s.has_self = 1;
    }
    if (folder->parent && vnb_glob_match(pattern, "..")) {
        s.list[s.count++] = folder->parent;
        s.has_parent = 1;
    }
    for (uint32_t i = 0; i < folder->child_count; i++) {
        FakeNode *c = folder->children[i];
        int match = vnb_glob_match(pattern, c->name);
        if (dbg)
            fprintf(stderr, "[kid] '%s' glob=%d\n", c->name, match);
        if (match)
            s.list[s.count++] = c;
    }
    return true;
}

void finish(FakeSearch *s, uint16_t flags, bool eos)
{
    if ((flags & kFindCloseAfterRequest) || ((flags & kFindCloseAtEos) && eos))
        fake_search_free(s);
}

}  // namespace

void fake_find_first2(const FakeRequest &rq, const FakeTrans &tr, FakeReply &rp)
{
    FindParams fp{};
    if (tr.params.size() < 12) {
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    LeReader p(tr.params);
    fp.search_count = p.u16_at(2);
    fp.flags = p.u16_at(4);
    fp.level = p.u16_at(6);
    if (fp.level != kFindFileBothDirectoryInfo || param_name(rq, tr, 12, fp.name, sizeof fp.name) != 0) {
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    FakeShare *share = fake_share_by_tid(rq.tid);
    if (!share) {
        rp_error(rp, STATUS_INVALID_HANDLE);
        return;
    }
    // FileName is the folder path and the pattern after its last separator.
    char *sep = nullptr;
    for (char *p = fp.name; *p; p++)
        if (*p == '\\' || *p == '/')
            sep = p;
    const char *pattern = sep ? sep + 1 : fp.name;
    if (sep)
        *sep = '\0';
    FakeNode *folder = fake_walk(share->root, sep ? fp.name : "");
    if (!*pattern)
        pattern = "*";
    fake_trace("[ff] folder=%s pattern='%s' count=%u flags=%u\n", folder ? folder->name : "-", pattern,
               fp.search_count, fp.flags);
    if (!folder || folder->kind != kNodeFolder) {
        rp_error(rp, STATUS_OBJECT_PATH_NOT_FOUND);
        return;
    }
    FakeSearch *s = search_slot(rq.st);
    if (!s) {
        rp_error(rp, STATUS_INSUFFICIENT_RESOURCES);
        return;
    }
    s->used = 1;
    s->tid = rq.tid;
    s->sid = fake_draw_sid(rq.st);
    s->last_use = rq.st.tick;
    if (!start_search(*s, folder, pattern)) {
        fake_search_free(s);
        rp_error(rp, STATUS_INSUFFICIENT_RESOURCES);
        return;
    }
    if (s->count == 0) {
        fake_search_free(s);
        rp_error(rp, kStatusNoSuchFile);
        return;
    }
    Page pg{};
    if (fill_page(*s, fp.search_count, rq.unicode, fake_trans_data_room(rq.st, tr, 10), &pg) != 0) {
        fake_search_free(s);
        vnb_buf_free(&pg.data);
        rp_error(rp, kStatusInfoLengthMismatch);
        return;
    }
    bool eos = s->pos >= s->count;
    uint32_t stated = bend_chain(&pg);
    uint8_t params[10];
    uint32_t sid = s->sid;
    params[0] = static_cast<uint8_t>(sid);
    params[1] = static_cast<uint8_t>(sid >> 8);
    params[2] = static_cast<uint8_t>(stated);
    params[3] = static_cast<uint8_t>(stated >> 8);
    params[4] = eos ? 1 : 0;
    params[5] = 0;
    params[6] = params[7] = 0;  // EaErrorOffset
    params[8] = static_cast<uint8_t>(pg.last_entry);
    params[9] = static_cast<uint8_t>(pg.last_entry >> 8);
    fake_trans_reply(rp, params, sizeof params, pg.data.data, pg.data.len, split_size());
    vnb_buf_free(&pg.data);
    finish(s, fp.flags, eos);
}

void fake_find_next2(const FakeRequest &rq, const FakeTrans &tr, FakeReply &rp)
{
    if (tr.params.size() < 12) {
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    FindParams fp{};
    LeReader p(tr.params);
    uint32_t sid = p.u16_at(0);
    fp.search_count = p.u16_at(2);
    fp.level = p.u16_at(4);
    fp.flags = p.u16_at(10);
    FakeSearch *s = search_by_sid(rq.st, sid, rq.tid);
    if (!s) {
        rp_error(rp, STATUS_INVALID_HANDLE);
        return;
    }
    if (fp.level != kFindFileBothDirectoryInfo || param_name(rq, tr, 12, fp.name, sizeof fp.name) != 0) {
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    s->last_use = rq.st.tick;
    // Without "continue from last", a name of an entry resumes after it.
    if (!(fp.flags & kFindContinueFromLast) && fp.name[0]) {
        for (uint32_t i = 0; i < s->count; i++) {
            if (strcmp(entry_name(*s, i), fp.name) == 0) {
                s->pos = i + 1;
                break;
            }
        }
    }
    if (F.faults.find_ignore_resume && s->pos > 0)
        s->pos--;
    fake_trace("[fn] sid=%u pos=%u count=%u\n", sid, s->pos, s->count);
    if (s->pos >= s->count) {
        fake_search_free(s);
        rp_error(rp, STATUS_NO_MORE_FILES);
        return;
    }
    Page pg{};
    if (fill_page(*s, fp.search_count, rq.unicode, fake_trans_data_room(rq.st, tr, 8), &pg) != 0) {
        vnb_buf_free(&pg.data);
        rp_error(rp, kStatusInfoLengthMismatch);
        return;
    }
    bool eos = s->pos >= s->count;
    uint32_t stated = bend_chain(&pg);
    uint8_t params[8];
    params[0] = static_cast<uint8_t>(stated);
    params[1] = static_cast<uint8_t>(stated >> 8);
    params[2] = eos ? 1 : 0;
    params[3] = 0;
    params[4] = params[5] = 0;
    params[6] = static_cast<uint8_t>(pg.last_entry);
    params[7] = static_cast<uint8_t>(pg.last_entry >> 8);
    fake_trans_reply(rp, params, sizeof params, pg.data.data, pg.data.len, split_size());
    vnb_buf_free(&pg.data);
    finish(s, fp.flags, eos);
}

void fake_cmd_find_close2(const FakeRequest &rq, FakeReply &rp)
{
    if (!rq.st.session) {
        rp_error(rp, STATUS_USER_SESSION_DELETED);
        return;
    }
    if (rq.wc < 1 || !rq.words_ok) {
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    // Like Samba, an id that names no search is closed all the same.
    if (FakeSearch *s = search_by_sid(rq.st, rq.u16_at(kOffWords), rq.tid))
        fake_search_free(s);
    rp_words(rp, 0);
    vnb_w16(&rp.msg, 0);
}
