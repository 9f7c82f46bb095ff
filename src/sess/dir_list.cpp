#include "sess/dir_list.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sess/exchange.h"
#include "sess/keep_outcome.h"
#include "sess/trace.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/path.h"
#include "util/status.h"
#include "util/codepage.h"
#include "util/text.h"
#include "util/smb1_wire.h"

namespace {

constexpr uint16_t kSearchAttributes = 0x0037;  // read-only, hidden, system, directory, archive
// Entries asked for per FIND request: more than a full MaxDataCount of
// entries holds, so the data size decides.
constexpr uint16_t kSearchCount = 1366;
constexpr size_t kFindFirstMinParams = 9;
constexpr size_t kFindNextMinParams = 5;
constexpr size_t kPatternArea = 2 * 1030 + 8;

// Entry offsets.
constexpr size_t kOffNextEntry = 0;
constexpr size_t kOffFileIndex = 4;
constexpr size_t kOffLastWrite = 24;
constexpr size_t kOffEndOfFile = 40;
constexpr size_t kOffAttributes = 56;
constexpr size_t kOffNameLength = 60;

// FNV-1a over the raw name, then a finalising mix: 64 bits on every platform.
uint64_t name_hash(const uint8_t *raw, size_t len)
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (size_t i = 0; i < len; i++)
        h = (h ^ raw[i]) * 0x100000001b3ULL;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

bool dot_name(const char *name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Appends the text NUL-terminated in the session's string form.
int put_wire_text(ByteBuffer *b, const char *text, int unicode, CodePage cp)
{
    uint8_t enc[kPatternArea];
    size_t len = 0;
    if (vnb_utf8_to_wire(text, unicode != 0, cp, enc, sizeof enc, &len) != 0)
        return -1;
    vnb_buf_put(b, enc, len);
    if (unicode)
        vnb_w16(b, 0);
    else
        vnb_buf_byte(b, 0);
    return 0;
}

void to_backslashes(char *path)
{
    for (char *p = path; *p; p++)
        if (*p == '/')
            *p = '\\';
}

// FIND_FIRST2 parameters for the pattern: 0, or -6 when the pattern cannot
// be written in the session's string form.
int32_t find_first_params(const char *pattern, const ListingWork *q, ByteBuffer *p)
{
    vnb_w16(p, kSearchAttributes);
    vnb_w16(p, kSearchCount);
    vnb_w16(p, smb::kFindCloseAtEos);
    vnb_w16(p, smb::kFindFileBothDirectoryInfo);
    vnb_w32(p, 0);  // SearchStorageType
    if (put_wire_text(p, pattern, q->unicode, q->code_page) != 0)
        return vnb_fail(-6, "the path %.200s cannot be written in code page %s (the server has no Unicode)",
                        q->folder, vnb_code_page_name(q->code_page));
    if (p->failed)
        return vnb_fail(-11, "out of memory");
    return 0;
}

int32_t find_next(Session &s, uint32_t tid, const ListingWork *q, SmbRequest &reply)
{
    ByteBuffer p{};
    vnb_w16(&p, q->sid);
    vnb_w16(&p, kSearchCount);
    vnb_w16(&p, smb::kFindFileBothDirectoryInfo);
    vnb_w32(&p, q->last_file_index);  // ResumeKey: the server's own mark of the last entry
    vnb_w16(&p, smb::kFindCloseAtEos | smb::kFindContinueFromLast);
    vnb_buf_put(&p, q->last_name, q->last_name_len);
    if (q->unicode)
        vnb_w16(&p, 0);
    else
        vnb_buf_byte(&p, 0);
    int32_t rc = p.failed ? vnb_fail(-11, "out of memory")
                          : trans2(s, tid, TRANS2_FIND_NEXT2, buf_span(p), 0xFFFF, reply);
    vnb_buf_free(&p);
    return rc;
}

// Ends a search the server still holds. A status in the reply is recorded
// without failing.
void find_close2(Session &s, uint32_t tid, uint32_t sid)
{
    const uint8_t words[2] = {static_cast<uint8_t>(sid), static_cast<uint8_t>(sid >> 8)};
    SmbRequest req;
    if (exchange(s, smb::FIND_CLOSE2, words, {}, tid, true, req) == 0 && req.header.status != 0)
        remember_status(s, &req.header);
}

// A reply that failed: after one of several messages the server may still
// be sending the rest, so nothing more is asked on the connection.
int32_t failed_reply(int32_t rc, const TransReply &r, SearchState *s)
{
    if (r.parts > 1 || r.rest_announced)
        s->link_ok = false;
    return rc;
}

// A search stopped with entries still to come: the folder is larger than
// a listing takes.
int32_t beyond_limits(const ListingWork &q)
{
    const char *folder = q.folder[0] != '\0' ? q.folder : "(the share's top)";
    if (q.over_limit)
        return vnb_fail(-7, "the folder %.200s holds more than %u entries, the most a listing takes", folder,
                        q.limits.items);
    return vnb_fail(-7, "the folder %.200s holds more than %llu entries (hidden ones, \".\" and \"..\" included), "
                        "the most a listing reads",
                    folder, static_cast<unsigned long long>(q.limits.entries_seen));
}

// A search the server refused: its status, worded with the folder.
int32_t search_refused(Session &ses, const ParsedHeader &h, const char *what, const ListingWork *q)
{
    char label[256];
    std::snprintf(label, sizeof label, "%s %.200s", what, q->folder[0] ? q->folder : "\\");
    return fail_status(ses, h, label);
}

int32_t run_search(Session &ses, uint32_t tid, const ByteBuffer &first_params, ListingWork *q, SearchState *s)
{
    SmbRequest first;
    int32_t rc = trans2(ses, tid, TRANS2_FIND_FIRST2, buf_span(first_params), 0xFFFF, first);
    if (rc != 0) {
        s->link_ok = false;
        return rc;
    }
    // A folder without even "." (a drive's root) that holds nothing; a
    // server without NT statuses may say so with ERRnofiles too.
    const ParsedHeader &fh = first.header;
    if (hdr_status_means(fh, smb::kStatusNoSuchFile) || (!fh.status_is_nt && hdr_status_means(fh, STATUS_NO_MORE_FILES)))
        return 0;
    if (hdr_status_fails(fh))
        return search_refused(ses, fh, "FIND_FIRST2", q);
    TransReply r;
    rc = vnb_trans_reply_take(ses, first, kFindFirstMinParams, "FIND_FIRST2", &r);
    bool end = find_take_params(r, kFindFirstMinParams, 4, true, q, s);
    if (rc != 0)
        return failed_reply(rc, r, s);
    int more = find_take_page(r, 2, end, q, "FIND_FIRST2");
    if (more < 0 || q->over_limit)
        return more < 0 ? more : beyond_limits(*q);
    if (more == 0 || !s->open)
        return more;

    while (!q->over_limit && q->entries_seen < q->limits.entries_seen) {
        SmbRequest next;
        rc = find_next(ses, tid, q, next);
        if (rc != 0) {
            s->link_ok = false;
            return rc;
        }
        if (hdr_status_means(next.header, STATUS_NO_MORE_FILES))
            return 0;
        if (hdr_status_fails(next.header))
            return search_refused(ses, next.header, "FIND_NEXT2", q);
        TransReply rn;
        rc = vnb_trans_reply_take(ses, next, kFindNextMinParams, "FIND_NEXT2", &rn);
        end = find_take_params(rn, kFindNextMinParams, 2, false, q, s);
        if (rc != 0)
            return failed_reply(rc, rn, s);
        more = find_take_page(rn, 0, end, q, "FIND_NEXT2");
        if (more < 0 || q->over_limit)
            return more < 0 ? more : beyond_limits(*q);
        if (more == 0 || !s->open)
            return more;
    }
    return beyond_limits(*q);
}

}  // namespace

int find_take_page(const TransReply &r, size_t count_at, bool end, ListingWork *q, const char *what)
{
    uint32_t count = vnb_r16(r.params + count_at);
    int parsed = find_parse(r.data, r.data_count, count, q);
    if (sess_trace_on())
        std::fprintf(stderr, "[%s] count=%u parsed=%d dcnt=%u q->n=%zu\n", what, count, parsed, r.data_count,
                     q->items.size());
    if (parsed < 0)
        return parsed;
    if (count == 0 && !end)
        return vnb_fail(-2, "%s reply lists no entries before the end of the search", what);
    return end ? 0 : 1;
}

bool find_take_params(const TransReply &r, size_t min_params, size_t eos_at, bool first, ListingWork *q,
                      SearchState *s)
{
    if (!r.params || r.param_count < min_params)
        return false;
    if (first) {
        q->sid = vnb_r16(r.params);
        s->open = true;
    }
    bool end = (r.params[eos_at] & 1) != 0;
    if (end)
        s->open = false;  // CLOSE_AT_EOS: the server has ended it
    return end;
}

int find_parse(const uint8_t *data, size_t len, uint32_t search_count, ListingWork *q)
{
    size_t off = 0;
    for (uint32_t i = 0; i < search_count; i++) {
        if (!data || len - off < smb::kFindBothDirectoryInfoFixed)
            return vnb_fail(-2, "FIND entry %u of %u lies outside the %zu data bytes", i + 1, search_count, len);
        LeReader e(data + off, len - off);
        uint32_t next = e.u32_at(kOffNextEntry);
        uint32_t file_index = e.u32_at(kOffFileIndex);
        uint64_t mtime = e.u64_at(kOffLastWrite);
        uint64_t eof = e.u64_at(kOffEndOfFile);
        uint32_t attrs = e.u32_at(kOffAttributes);
        uint32_t name_len = e.u32_at(kOffNameLength);
        const uint8_t *raw = e.at(smb::kFindBothDirectoryInfoFixed, name_len);
        if (name_len == 0 || !raw)
            return vnb_fail(-2, "FIND entry %u of %u has no name inside the data", i + 1, search_count);

        size_t text_len = name_len;
        if (!q->unicode)
            while (text_len > 0 && raw[text_len - 1] == 0)  // OEM names may carry their NUL
                text_len--;
        char name[kMaxEntryName];
        int bad = q->unicode ? vnb_utf16_to_utf8(raw, text_len, name, sizeof name) < 0
                             : vnb_oem_to_utf8(q->code_page, raw, text_len, name, sizeof name) != 0;
        if (bad)
            name[0] = '\0';
        if (!q->seen.insert(SeenName{name_hash(raw, text_len)}).second)
            return vnb_fail(-2, "the server listed \"%.200s\" twice: its search did not continue where it was asked to",
                            name);
        q->last_name_len = text_len <= sizeof q->last_name ? text_len : 0;
        std::memcpy(q->last_name, raw, q->last_name_len);
        q->last_file_index = file_index;

        bool is_folder = (attrs & smb::kAttrDirectory) != 0;
        if (!is_folder && eof > static_cast<uint64_t>(INT64_MAX))
            return vnb_fail(-2, "FIND entry %u of %u gives a size of %llu bytes", i + 1, search_count,
                            static_cast<unsigned long long>(eof));
        if (!dot_name(name))
            qd_feed(name, is_folder ? -1 : static_cast<int64_t>(eof), smb::unix_ms_from_filetime(mtime), is_folder ? 1 : 0, q);
        q->entries_seen++;
        if (i + 1 == search_count)
            break;  // the last entry's NextEntryOffset is not looked at
        if (next == 0)
            return vnb_fail(-2, "FIND entry chain ends after %u of %u entries", i + 1, search_count);
        if (next < smb::kFindBothDirectoryInfoFixed + name_len || next > len - off)
            return vnb_fail(-2, "FIND entry %u of %u: NextEntryOffset %u runs off the entry or the data", i + 1,
                            search_count, next);
        off += next;
    }
    return static_cast<int>(search_count);
}

void qd_feed(const char *name, int64_t size, int64_t mtime_ms, int is_folder, ListingWork *q)
{
    if (!name || dot_name(name))
        return;
    bool hidden = smb::is_hidden_name(name);
    if (hidden) {
        q->hidden++;
        if (!q->keep_hidden)
            return;
    }
    if (q->items.size() >= q->limits.items) {
        q->over_limit = true;
        return;
    }
    DirEntry e;
    e.name = name;
    e.path = q->folder[0] ? std::string(q->folder) + "/" + name : e.name;
    e.folder = is_folder != 0;
    e.size = size;
    e.mtime_ms = mtime_ms;
    e.hidden = hidden;
    q->items.push_back(std::move(e));
}

int32_t vnb_query_directory_all(Session &ses, const char *folder, uint32_t tid, bool keep_hidden,
                                const ListingLimits &limits)
{
    auto q = std::make_unique<ListingWork>();
    q->keep_hidden = keep_hidden;
    q->limits = limits;
    std::snprintf(q->folder, sizeof q->folder, "%.1024s", folder ? folder : "");
    q->unicode = vnb_sess_unicode(ses);
    q->code_page = ses.code_page;

    // The wire wants backslashes; the pattern is the folder, "\", "*".
    char wire_path[2056];
    int32_t rc = vnb_vpath(q->folder, wire_path, 2054);
    if (rc != 0)
        return rc;
    to_backslashes(wire_path);
    char pattern[2060];
    std::snprintf(pattern, sizeof pattern, "%s%s*", wire_path, wire_path[0] ? "\\" : "");

    ByteBuffer first_params{};
    rc = find_first_params(pattern, q.get(), &first_params);
    uint32_t fid = 0;
    if (rc == 0)
        rc = vnb_create_file(ses, tid, wire_path, 1, &fid, nullptr, nullptr, "OPEN DIR");
    if (rc != 0) {
        vnb_buf_free(&first_params);
        return rc;
    }

    SearchState s;
    rc = run_search(ses, tid, first_params, q.get(), &s);
    vnb_buf_free(&first_params);

    // Clean-up requests: their failures never replace the outcome, and after
    // a failed listing they leave the recorded status alone too.
    if (s.link_ok) {
        KeepOutcome keep(ses, rc != 0);
        vnb_post_close(ses, tid, fid);
        if (s.open)
            find_close2(ses, tid, q->sid);
    }

    if (rc != 0)
        return rc;
    ses.listing = Listing{};
    ses.listing.held = true;
    ses.listing.items = std::move(q->items);
    ses.listing.hidden = q->hidden;
    return 0;
}

int32_t vnb_find_entry(Session &ses, uint32_t tid, const char *path, DirEntry *out)
{
    auto q = std::make_unique<ListingWork>();
    q->keep_hidden = true;
    const char *slash = std::strrchr(path, '/');
    const char *name = slash != nullptr ? slash + 1 : path;
    const int folder_len = slash != nullptr ? static_cast<int>(slash - path) : 0;
    std::snprintf(q->folder, sizeof q->folder, "%.*s", folder_len < 1024 ? folder_len : 1024, path);
    q->unicode = vnb_sess_unicode(ses);
    q->code_page = ses.code_page;

    // The pattern is the path itself: the server answers with that one
    // entry (or, for a name holding wildcards, the entries it matches).
    char pattern[1025];
    std::snprintf(pattern, sizeof pattern, "%.1024s", path);
    to_backslashes(pattern);
    ByteBuffer first_params{};
    int32_t rc = find_first_params(pattern, q.get(), &first_params);
    SearchState s;
    if (rc == 0)
        rc = run_search(ses, tid, first_params, q.get(), &s);
    vnb_buf_free(&first_params);
    if (s.link_ok && s.open) {
        KeepOutcome keep(ses, rc != 0);
        find_close2(ses, tid, q->sid);
    }
    if (rc != 0)
        return rc;

    const DirEntry *hit = nullptr;
    for (const DirEntry &e : q->items)
        if (e.name == name) {
            hit = &e;
            break;
        }
    for (size_t i = 0; hit == nullptr && i < q->items.size(); i++)
        if (vnb_casecmp(q->items[i].name.c_str(), name) == 0)
            hit = &q->items[i];
    if (hit == nullptr)
        return vnb_fail(-4, "%.200s: no such file or folder", path);
    out->folder = hit->folder;
    out->size = hit->size;
    out->mtime_ms = hit->mtime_ms;
    out->hidden = hit->hidden;
    return 0;
}
