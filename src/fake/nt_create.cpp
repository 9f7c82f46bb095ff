// NT_CREATE_ANDX: opens existing files and folders for reading, and the
// srvsvc pipe on IPC$. Nothing is ever created.
#include <cstring>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"
#include "util/text.h"

using namespace smb;

namespace {

constexpr size_t kOffNameLength = 38;
constexpr size_t kOffDesiredAccess = 48;
constexpr size_t kOffCreateDisposition = 68;
constexpr size_t kOffCreateOptions = 72;

constexpr uint32_t kFileOpen = 1;
constexpr uint32_t kFileDirectoryFile = 0x00000001;
constexpr uint32_t kFileDeleteOnClose = 0x00001000;
// FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_WRITE_EA, FILE_DELETE_CHILD,
// FILE_WRITE_ATTRIBUTES, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL,
// GENERIC_WRITE.
constexpr uint32_t kWriteAccess = 0x00000002 | 0x00000004 | 0x00000010 | 0x00000040 | 0x00000100 |
                                  0x00010000 | 0x00040000 | 0x00080000 | 0x10000000 | 0x40000000;

constexpr uint16_t kFileTypeMessagePipe = 2;
constexpr uint16_t kPipeState = 0x05FF;  // message mode, read mode message, unlimited instances

struct OpenResult {
    uint64_t time;
    uint32_t attributes;
    uint64_t allocation;
    uint64_t eof;
    uint16_t file_type;
    uint16_t ipc_state;
    uint8_t directory;
};

// The request's name as UTF-8: 0, or -1 when it does not lie inside the
// frame or does not convert.
int read_name(const FakeRequest &rq, char *out, int32_t cap)
{
    size_t name_len = rq.u16_at(kOffNameLength);
    size_t pos = rq.bytes_off;
    if (rq.unicode && pos % 2 != 0)
        pos++;
    const uint8_t *p = rq.peek(pos, name_len);
    if (!p)
        return -1;
    if (rq.unicode) {
        while (name_len >= 2 && p[name_len - 2] == 0 && p[name_len - 1] == 0)
            name_len -= 2;
        return vnb_utf16_to_utf8(p, name_len, out, cap) < 0 ? -1 : 0;
    }
    const void *nul = memchr(p, 0, name_len);
    if (nul)
        name_len = static_cast<const uint8_t *>(nul) - p;
    return vnb_oem_to_utf8(kFakeCodePage, p, name_len, out, static_cast<size_t>(cap));
}

const char *last_component(const char *path)
{
    const char *last = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/')
            last = p + 1;
    return last;
}

void reply(FakeReply &rp, uint32_t fid, const OpenResult &o)
{
    ByteBuffer *b = &rp.msg;
    rp_words(rp, 34);
    vnb_buf_byte(b, 0xFF);
    vnb_buf_byte(b, 0);
    vnb_w16(b, 0);
    vnb_buf_byte(b, 0);  // OplockLevel
    vnb_w16(b, fid);
    vnb_w32(b, 1);       // CreateAction: opened
    for (int i = 0; i < 4; i++)
        vnb_w64(b, o.time);
    vnb_w32(b, o.attributes);
    vnb_w64(b, o.allocation);
    vnb_w64(b, o.eof);
    vnb_w16(b, o.file_type);
    vnb_w16(b, o.ipc_state);
    vnb_buf_byte(b, o.directory);
    vnb_w16(b, 0);       // ByteCount
}

void open_pipe(const FakeRequest &rq, FakeReply &rp, const char *name)
{
    const char *last = last_component(name);
    fake_trace("[open] ipc name='%s' last='%s'\n", name, last);
    bool served = vnb_casecmp(last, "srvsvc") == 0 && !F.faults.no_srvsvc;
    FakeHandle *h = served ? fake_handle_new(rq.st, rq.tid) : nullptr;
    if (!h) {
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    h->is_pipe = 1;
    reply(rp, h->fid, {0, 0x80, 4096, 0, kFileTypeMessagePipe, kPipeState, 0});
    fake_trace("[cr2] name='%s' tid=%u fid=%u is_pipe=1\n", name, rq.tid, h->fid);
}

}  // namespace

uint32_t fake_attributes(const FakeNode *n)
{
    return kAttrReadOnly | (n->kind == kNodeFolder ? kAttrDirectory : kAttrArchive);
}

uint64_t fake_allocation(const FakeNode *n)
{
    auto size = static_cast<uint64_t>(n->size);
    return (size + 65535) / 65536 * 65536;
}

FakeNode *fake_walk(FakeNode *root, const char *path)
{
    FakeNode *n = root;
    const char *p = path;
    for (;;) {
        while (*p == '\\' || *p == '/')
            p++;
        if (!*p)
            return n;
        size_t len = strcspn(p, "\\/");
        if (len > 255)
            return nullptr;
        char comp[256];
        memcpy(comp, p, len);
        comp[len] = '\0';
        p += len;
        if (strcmp(comp, ".") == 0 || strcmp(comp, "..") == 0)
            return nullptr;
        FakeNode *next = nullptr;
        for (uint32_t i = 0; i < n->child_count && !next; i++)
            if (vnb_casecmp(n->children[i]->name, comp) == 0)
                next = n->children[i];
        if (!next)
            return nullptr;
        n = next;
    }
}

void fake_cmd_nt_create(const FakeRequest &rq, FakeReply &rp)
{
    if (!rq.st.session) {
        rp_error(rp, STATUS_USER_SESSION_DELETED);
        return;
    }
    char name[2056];
    if (rq.wc < 24 || !rq.words_ok || rq.bytes_off == 0 ||
        rq.u32_at(kOffCreateDisposition) != kFileOpen || read_name(rq, name, sizeof name) != 0) {
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    if (rq.tid == kIpcTid) {
        open_pipe(rq, rp, name);
        return;
    }
    uint32_t options = rq.u32_at(kOffCreateOptions);
    if ((rq.u32_at(kOffDesiredAccess) & kWriteAccess) != 0 || (options & kFileDeleteOnClose) != 0) {
        F.writes++;
        rp_error(rp, STATUS_ACCESS_DENIED);
        return;
    }
    FakeShare *share = fake_share_by_tid(rq.tid);
    FakeNode *node = share ? fake_walk(share->root, name) : nullptr;
    if (!node) {
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    bool want_dir = (options & kFileDirectoryFile) != 0;
    bool is_dir = node->kind == kNodeFolder;
    if (is_dir != want_dir) {
        rp_error(rp, is_dir ? STATUS_FILE_IS_A_DIRECTORY : STATUS_NOT_A_DIRECTORY);
        return;
    }
    if (node->deny) {
        rp_error(rp, STATUS_ACCESS_DENIED);
        return;
    }
    FakeHandle *h = fake_handle_new(rq.st, rq.tid);
    if (!h) {
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    h->node = node;
    uint64_t t = filetime_from_unix(node->mtime);
    reply(rp, h->fid,
          {t, fake_attributes(node), fake_allocation(node), static_cast<uint64_t>(node->size), 0, 0,
           static_cast<uint8_t>(is_dir ? 1 : 0)});
    fake_trace("[cr2] name='%s' tid=%u fid=%u is_pipe=0\n", name, rq.tid, h->fid);
}
