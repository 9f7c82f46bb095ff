// TREE_CONNECT_ANDX and TREE_DISCONNECT. Trees are not recorded: a TID names
// IPC$ (0xFF01) or a share by its position (the first share is 1).
#include <cstring>

#include "crypto/crypto.h"
#include "fake/fake_internal.h"
#include "ntlm/ntlm.h"
#include "util/smb1_wire.h"
#include "util/status.h"
#include "util/text.h"

using namespace smb;

namespace {

constexpr size_t kOffTreeFlags = 37;
constexpr size_t kOffPasswordLength = 39;
constexpr uint16_t kSupportSearchBits = 0x0001;
constexpr uint32_t kReadOnlyRights = 0x001200A9;  // FILE_GENERIC_READ | FILE_EXECUTE
constexpr uint32_t kPipeRights = 0x001F01FF;

// Share names compare without regard to case; under upper_shares, as some
// servers do, only the upper-case form of a name matches.
bool share_matches(const char *name, const char *asked)
{
    if (!F.faults.upper_shares)
        return vnb_casecmp(name, asked) == 0;
    for (; *name && *asked; name++, asked++) {
        char up = *name >= 'a' && *name <= 'z' ? static_cast<char>(*name - 'a' + 'A') : *name;
        if (*asked != up)
            return false;
    }
    return *name == *asked;
}

// The tree id the request's path names, or 0.
uint32_t tree_for_path(const FakeRequest &rq)
{
    size_t pw = rq.u16_at(kOffPasswordLength);
    fake_trace("[tcr] pw=%zu pos=%zu n=%zu\n", pw, rq.bytes_off, rq.len);
    if (pw > rq.bytes_len)
        return 0;
    size_t end = rq.bytes_off + rq.bytes_len;
    size_t pos = rq.bytes_off + pw;
    if (rq.unicode && pos % 2 != 0)
        pos++;
    char path[1032];
    if (fake_read_string(rq, pos, end, rq.unicode, path, sizeof path, nullptr) < 0)
        return 0;
    fake_trace("[tcr] path=%s\n", path);
    const char *share = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/')
            share = p + 1;
    if (vnb_casecmp(share, "IPC$") == 0)
        return F.faults.no_ipc ? 0 : kIpcTid;
    for (uint32_t i = 0; i < F.share_count; i++)
        if (share_matches(F.shares[i].name, share))
            return i + 1;
    return 0;
}

// Share-level security: every share but IPC$ wants the first user's
// password, as the LAN Manager or NTLMv1 response to the NEGOTIATE
// challenge, or in plain text under the plaintext switch.
bool share_password_ok(const FakeRequest &rq)
{
    if (F.user_count == 0)
        return true;
    const char *password = F.users[0].pass;
    size_t len = rq.u16_at(kOffPasswordLength);
    const uint8_t *field = rq.peek(rq.bytes_off, len);
    if (!field)
        return false;
    if (F.faults.plaintext) {
        while (len > 0 && field[len - 1] == 0)
            len--;
        char text[258];
        return vnb_oem_to_utf8(kFakeCodePage, field, len, text, sizeof text) == 0 && strcmp(text, password) == 0;
    }
    uint8_t key[16];
    NtlmV1Form form = NtlmV1Form::nt;
    int r = vnb_ntlm_verify_v1(field, len, F.faults.ntlm_v1 == 3 ? nullptr : field, len, password, kFakeCodePage,
                               rq.st.basic_challenge, false, true, key, &form);
    vnb_wipe(key, sizeof key);
    return r == 0;
}

}  // namespace

void fake_cmd_tree_connect(const FakeRequest &rq, FakeReply &rp)
{
    const FakeServerState &st = rq.st;
    fake_trace("[tc] have_session=%d req_uid=%u st_uid=%u\n", st.session, rq.uid, st.uid);
    if (!st.session) {
        rp_error(rp, STATUS_USER_SESSION_DELETED);
        return;
    }
    uint32_t tid = 0;
    if (rq.wc >= 4 && rq.words_ok && rq.bytes_ok)
        tid = tree_for_path(rq);
    if (tid == 0) {
        rp_error(rp, STATUS_BAD_NETWORK_NAME);
        return;
    }
    bool ipc = tid == kIpcTid;
    if (F.faults.share_level && !ipc && !share_password_ok(rq)) {
        rp_error(rp, STATUS_LOGON_FAILURE);
        return;
    }
    bool extended = (rq.u16_at(kOffTreeFlags) & kTreeExtendedResponse) != 0;
    rp.tid = static_cast<uint16_t>(tid);

    ByteBuffer *b = &rp.msg;
    rp_words(rp, extended ? 7 : 3);
    vnb_buf_byte(b, 0xFF);
    vnb_buf_byte(b, 0);
    vnb_w16(b, 0);
    vnb_w16(b, kSupportSearchBits);
    if (extended) {
        vnb_w32(b, ipc ? kPipeRights : kReadOnlyRights);  // MaximalShareAccessRights
        vnb_w32(b, ipc ? kPipeRights : kReadOnlyRights);  // GuestMaximalShareAccessRights
    }
    size_t bc = rp_bytes_begin(rp);
    const char *service = ipc ? "IPC" : "A:";
    vnb_buf_put(b, service, strlen(service) + 1);
    rp_string(rp, ipc ? "" : "NTFS", rq.unicode, true);  // NativeFileSystem
    rp_bytes_end(rp, bc);
}

void fake_cmd_tree_disconnect(const FakeRequest &rq, FakeReply &rp)
{
    // What was open on the tree goes with it.
    FakeServerState &st = rq.st;
    for (FakeHandle &h : st.handles)
        if (h.used && h.tid == rq.tid)
            fake_handle_free(&h);
    for (FakeSearch &s : st.searches)
        if (s.used && s.tid == rq.tid)
            fake_search_free(&s);
    rp_words(rp, 0);
    vnb_w16(&rp.msg, 0);
}
