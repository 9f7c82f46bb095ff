// TREE_CONNECT_ANDX and the per-session cache of connected shares, with the
// share password of a share-level server.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "ntlm/ntlm.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/codepage.h"
#include "util/error.h"
#include "util/smb1_wire.h"
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

// The Password field. A user-level session sends one NUL; a share-level
// server wants the share's password (IPC$ has none): as the LAN Manager (or NTLMv1)
// response to the NEGOTIATE challenge, or in plain text in the code page
// when it encrypts nothing, each as far as the settings allow.
int32_t tree_password(Session &s, bool ipc, uint8_t (&out)[sizeof Session::password + 1], size_t *len)
{
    *len = 1;
    out[0] = 0;
    s.tree_logon = LogonKind::none;
    if (s.logon != LogonKind::share || s.password[0] == '\0' || ipc)
        return 0;
    if (!(s.security_mode & smb::kSecEncryptPasswords)) {
        if (s.legacy_auth < LegacyAuth::plaintext)
            return vnb_legacy_refusal("the share password in plain text (share-level security without a challenge)",
                                      LegacyAuth::plaintext);
        size_t n = 0;
        if (vnb_utf8_to_oem(s.code_page, s.password, out, sizeof out - 1, &n) != 0)
            return vnb_fail(-8, "the share password cannot be written in code page %s",
                            vnb_code_page_name(s.code_page));
        out[n] = 0;
        *len = n + 1;
        s.tree_logon = LogonKind::plaintext;
        return 0;
    }
    if (s.legacy_auth < LegacyAuth::ntlmv1)
        return vnb_legacy_refusal("the share password as a LAN Manager response (share-level security)",
                                  LegacyAuth::lm);
    if (!s.have_challenge)
        return vnb_fail(-2, "the share-level server offered no challenge for the share password");
    NtlmV1Answer a;
    NtlmV1Form asked = s.legacy_auth >= LegacyAuth::lm ? NtlmV1Form::nt_and_lm : NtlmV1Form::nt;
    if (vnb_ntlm_v1_answer(s.password, s.code_page, s.challenge, asked, nullptr, &a) != 0) {
        vnb_wipe(&a, sizeof a);
        return vnb_fail(-3, "cannot build the response for the share password");
    }
    // One response goes: the LAN Manager one when there is one, which is
    // what share-level servers check.
    std::memcpy(out, a.form == NtlmV1Form::nt_and_lm ? a.lm : a.nt, 24);
    *len = 24;
    s.tree_logon = a.form == NtlmV1Form::nt_and_lm ? LogonKind::lm : LogonKind::ntlmv1;
    vnb_wipe(&a, sizeof a);
    return 0;
}

// The words and bytes of a TREE_CONNECT_ANDX for share (AndX block: none).
int32_t tree_connect_build(Session &s, const char *share, ByteBuffer *words, ByteBuffer *bytes)
{
    bool unicode = vnb_sess_unicode(s) != 0;
    bool ipc = vnb_casecmp(share, "IPC$") == 0;

    uint8_t password[sizeof Session::password + 1];
    size_t password_len = 0;
    int32_t rc = tree_password(s, ipc, password, &password_len);
    if (rc != 0)
        return rc;

    vnb_buf_byte(words, 0xFF);  // AndXCommand: none
    vnb_buf_byte(words, 0);
    vnb_w16(words, 0);
    vnb_w16(words, unicode ? kTreeExtendedResponse : 0);
    vnb_w16(words, static_cast<uint32_t>(password_len));

    char unc[kUncCap];
    unc_path(s, share, ipc, unc);
    uint8_t wire[2 * kUncCap];
    size_t wire_len = 0;
    if (vnb_utf8_to_wire(unc, unicode, s.code_page, wire, sizeof wire, &wire_len) != 0) {
        vnb_wipe(password, sizeof password);
        return unicode ? vnb_fail(-6, "the share or host name is not valid UTF-8")
                       : vnb_fail(-8, "TREE_CONNECT %.80s: the name cannot be written in code page %s (the server "
                                      "has no Unicode)",
                                  share, vnb_code_page_name(s.code_page));
    }
    vnb_buf_put(bytes, password, password_len);
    vnb_wipe(password, sizeof password);
    // The path starts at an even offset from the header when it is UTF-16
    // (a chain puts this request on a 4-byte boundary, which keeps it so).
    constexpr size_t kBytesStart = smb::kHeaderLen + 1 + 8 + 2;
    if (unicode && (kBytesStart + bytes->len) % 2 != 0)
        vnb_buf_byte(bytes, 0);
    vnb_buf_put(bytes, wire, wire_len);
    if (unicode)
        vnb_w16(bytes, 0);
    else
        vnb_buf_byte(bytes, 0);
    const char *service = ipc ? "IPC" : "A:";
    vnb_buf_put(bytes, service, std::strlen(service) + 1);
    if (words->failed || bytes->failed)
        return vnb_fail(-11, "out of memory");
    return 0;
}

int32_t tree_connect(Session &s, const char *share, SmbRequest &req)
{
    ByteBuffer words{};
    ByteBuffer bytes{};
    int32_t rc = tree_connect_build(s, share, &words, &bytes);
    if (rc == 0)
        rc = exchange(s, smb::TREE_CONNECT_ANDX, buf_span(words), buf_span(bytes), 0, true, req);
    vnb_buf_free(&words);
    vnb_wipe(bytes.data, bytes.len);
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

void keep_tree(TreeSlot &slot, const char *share, uint32_t tid, uint64_t use)
{
    slot.tid = tid;
    slot.in_use = 1;
    slot.last_used = use;
    std::snprintf(slot.name, sizeof slot.name, "%.80s", share);
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

    keep_tree(*free_slot, share, assigned, use);
    if (tid)
        *tid = assigned;
    return 0;
}

bool tree_chain_wanted(const Session &s)
{
    if (s.first_share.empty() || s.chain_refused.tree)
        return false;
    for (const TreeSlot &t : s.trees)
        if (!t.in_use)
            return true;
    return false;
}

int32_t tree_chain_build(Session &s, ByteBuffer *words, ByteBuffer *bytes)
{
    return tree_connect_build(s, s.first_share.c_str(), words, bytes);
}

void tree_chain_settle(Session &s, std::span<const uint8_t> reply, int links)
{
    const char *share = s.first_share.c_str();
    if (links >= 2) {
        ParsedHeader h;
        if (vnb_hdr_parse(reply, &h) == 0 && h.status == 0 && h.tid != 0) {
            for (TreeSlot &t : s.trees) {
                if (!t.in_use) {
                    keep_tree(t, share, h.tid, next_use(s));
                    return;
                }
            }
            return;
        }
    }
    // No answer for the tree in the reply, or a refusal: the same request on
    // its own. When that one goes through, the server takes no chains.
    if (vnb_tree_find_or_connect(s, share, nullptr) == 0)
        s.chain_refused.tree = true;
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
