// TREE_CONNECT_ANDX and the per-session cache of connected shares.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/text.h"

namespace {

constexpr size_t kUncCap = 104;  // at most 103 characters
// TREE_CONNECT_EXTENDED_RESPONSE. The extended-signatures bit (0x0004) is
// left out: it would make a signing server switch to keys this client does
// not derive.
constexpr uint16_t kTreeExtendedResponse = 0x0008;

// The longest prefix of text, at most max bytes, that does not end inside
// a UTF-8 sequence.
size_t utf8_prefix(const char *text, size_t max)
{
    size_t n = strnlen(text, max);
    if (n < max)
        return n;
    for (int back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80; back++)
        n--;
    return n;
}

// "\\host\SHARE" (or "\\host\IPC$"): host cut to 96 bytes, share to 80,
// the whole to 103, each cut on a character boundary. The share part goes
// upper-cased (ASCII letters): share names are case-insensitive, and some
// servers match them only in upper case. The host part stays as given.
void unc_path(const Session &s, const char *share, bool ipc, char (&unc)[kUncCap])
{
    char full[2 + 96 + 1 + 80 + 1];
    const char *tail = ipc ? "IPC$" : share;
    int host_len = static_cast<int>(utf8_prefix(s.host, 96));
    std::snprintf(full, sizeof full, "\\\\%.*s\\%.*s", host_len, s.host, static_cast<int>(utf8_prefix(tail, 80)),
                  tail);
    for (char *p = full + 2 + host_len + 1; *p; p++)
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    size_t n = utf8_prefix(full, sizeof unc - 1);
    std::memcpy(unc, full, n);
    unc[n] = '\0';
}

int32_t tree_connect(Session &s, const char *share, SmbRequest &req)
{
    bool unicode = vnb_sess_unicode(s) != 0;
    bool ipc = vnb_casecmp(share, "IPC$") == 0;

    ByteBuffer words{};
    vnb_buf_byte(&words, 0xFF);  // AndXCommand: none
    vnb_buf_byte(&words, 0);
    vnb_w16(&words, 0);
    vnb_w16(&words, unicode ? kTreeExtendedResponse : 0);
    vnb_w16(&words, 1);  // PasswordLength

    char unc[kUncCap];
    unc_path(s, share, ipc, unc);
    ByteBuffer bytes{};
    vnb_buf_byte(&bytes, 0);  // the empty password
    bool not_text = false;
    if (unicode) {
        uint8_t wide[2 * kUncCap];
        int32_t n = 0;
        if (vnb_utf8_to_utf16le(unc, wide, sizeof wide, &n) != 0)
            not_text = true;
        vnb_buf_put(&bytes, wide, static_cast<uint64_t>(n));
        vnb_w16(&bytes, 0);
    } else {
        vnb_buf_put(&bytes, unc, std::strlen(unc) + 1);
    }
    const char *service = ipc ? "IPC" : "A:";
    vnb_buf_put(&bytes, service, std::strlen(service) + 1);

    int32_t rc = 0;
    if (not_text)
        rc = vnb_fail(-6, "the share or host name is not valid UTF-8");
    else if (words.failed || bytes.failed)
        rc = vnb_fail(-11, "out of memory");
    else
        rc = exchange(s, smb::TREE_CONNECT_ANDX, buf_span(words), buf_span(bytes), 0, true, req);
    vnb_buf_free(&words);
    vnb_buf_free(&bytes);
    return rc;
}

// Files open on the tree: such a tree stays connected.
bool has_open_files(const Session &s, uint32_t tid)
{
    for (const FileSlot &f : s.files)
        if (f.in_use && f.tid == tid)
            return true;
    return false;
}

uint64_t next_use(const Session &s)
{
    uint64_t last = 0;
    for (const TreeSlot &t : s.trees)
        last = std::max(last, t.last_used);
    return last + 1;
}

// Frees the least recently used tree without open files, so that a caller
// asking for share after share never runs out of slots. Null when every
// tree holds a file open.
TreeSlot *release_least_used(Session &s)
{
    TreeSlot *oldest = nullptr;
    for (TreeSlot &t : s.trees)
        if (t.in_use && !has_open_files(s, t.tid) && (!oldest || t.last_used < oldest->last_used))
            oldest = &t;
    if (!oldest)
        return nullptr;
    oldest->in_use = 0;
    // A refusal leaves nothing to undo: the server forgets the tree with
    // the connection at the latest.
    cmd_ok(s, smb::TREE_DISCONNECT, {}, oldest->tid, "TREE_DISCONNECT");
    return oldest;
}

}  // namespace

int32_t vnb_tree_find_or_connect(Session &s, const char *share, uint32_t *tid)
{
    if (!share || !*share)
        return vnb_fail(-6, "empty share name");
    TreeSlot *free_slot = nullptr;
    const uint64_t use = next_use(s);
    for (TreeSlot &t : s.trees) {
        if (t.in_use && vnb_casecmp(t.name, share) == 0) {
            t.last_used = use;
            if (tid)
                *tid = t.tid;
            return 0;
        }
        if (!t.in_use && !free_slot)
            free_slot = &t;
    }
    if (!free_slot && !(free_slot = release_least_used(s)))
        return vnb_fail(-7, "files are open on all %d trees of the session", kMaxTrees);

    SmbRequest req;
    int32_t rc = tree_connect(s, share, req);
    if (rc != 0)
        return rc;
    uint32_t assigned = 0;
    rc = tree_connect_reply(s, req.message(), share, &assigned);
    if (rc != 0)
        return rc;

    free_slot->tid = assigned;
    free_slot->in_use = 1;
    free_slot->last_used = use;
    std::snprintf(free_slot->name, sizeof free_slot->name, "%.80s", share);
    if (tid)
        *tid = assigned;
    return 0;
}

int32_t tree_connect_reply(Session &s, std::span<const uint8_t> reply, const char *share, uint32_t *tid)
{
    // The reply's words (plain WordCount 3 or extended 7) are not needed:
    // the TID comes in the header.
    *tid = 0;
    ParsedHeader h;
    if (vnb_hdr_parse(reply, &h) != 0)
        return vnb_fail(-2, "the reply is not an SMB1 header (%u bytes)", static_cast<unsigned>(reply.size()));
    if (h.status != 0) {
        char what[96];
        std::snprintf(what, sizeof what, "TREE_CONNECT %.80s", share);
        return fail_status(s, h, what);
    }
    if (h.tid == 0)
        return vnb_fail(-2, "TREE_CONNECT did not assign a Tid");
    *tid = h.tid;
    return 0;
}
