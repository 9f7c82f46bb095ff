// TRANSACTION2 QUERY_PATH_INFORMATION: one path's times, attributes and
// sizes at the level SMB_QUERY_FILE_ALL_INFO.
#include <cstring>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"
#include "util/text.h"

using namespace smb;

namespace {

constexpr size_t kOffName = 6;  // InformationLevel, Reserved, then FileName

const char *last_part(const char *path)
{
    const char *last = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/')
            last = p + 1;
    return last;
}

// The data block: the times, attributes, sizes, counts and the name.
void put_all_info(ByteBuffer *d, const FakeNode *n, const char *name, bool unicode)
{
    const uint64_t t = filetime_from_unix(n->mtime);
    for (int i = 0; i < 4; i++)
        vnb_w64(d, t);
    vnb_w32(d, fake_attributes(n));
    vnb_w32(d, 0);
    vnb_w64(d, fake_allocation(n));
    vnb_w64(d, static_cast<uint64_t>(n->kind == kNodeFolder ? 0 : n->size));
    vnb_w32(d, 1);  // NumberOfLinks
    vnb_buf_byte(d, 0);  // DeletePending
    vnb_buf_byte(d, n->kind == kNodeFolder ? 1 : 0);
    vnb_w16(d, 0);
    vnb_w32(d, 0);  // EaSize
    uint8_t enc[1024];
    size_t len = 0;
    if (unicode) {
        int32_t n16 = 0;
        if (vnb_utf8_to_utf16le(name, enc, sizeof enc, &n16) == 0)
            len = static_cast<size_t>(n16);
    } else if (vnb_utf8_to_oem(kFakeCodePage, name, enc, sizeof enc, &len) != 0) {
        len = 0;
    }
    vnb_w32(d, static_cast<uint32_t>(len));
    vnb_buf_put(d, enc, len);
}

}  // namespace

void fake_query_path_info(const FakeRequest &rq, const FakeTrans &tr, FakeReply &rp)
{
    if (F.faults.no_path_info) {
        rp_error(rp, STATUS_NOT_SUPPORTED);
        return;
    }
    if (tr.params.size() < kOffName + 1) {
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    LeReader p(tr.params);
    if (p.u16_at(0) != kQueryFileAllInfo) {
        rp_error(rp, kStatusInvalidLevel);
        return;
    }
    char name[2056];
    size_t base = tr.param_off;
    if (fake_read_string(rq, base + kOffName, base + tr.params.size(), rq.unicode, name, sizeof name, nullptr) < 0) {
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    FakeShare *share = fake_share_by_tid(rq.tid);
    if (!share) {
        rp_error(rp, STATUS_INVALID_HANDLE);
        return;
    }
    FakeNode *node = fake_walk(share->root, name);
    if (!node) {
        // A missing folder on the way is a missing path, a missing last
        // part a missing name.
        const char *last = last_part(name);
        char parent[2056];
        size_t plen = static_cast<size_t>(last - name);
        std::memcpy(parent, name, plen);
        parent[plen] = '\0';
        FakeNode *folder = fake_walk(share->root, parent);
        rp_error(rp, folder && folder->kind == kNodeFolder ? STATUS_OBJECT_NAME_NOT_FOUND
                                                           : STATUS_OBJECT_PATH_NOT_FOUND);
        return;
    }
    ByteBuffer data{};
    put_all_info(&data, node, last_part(name), rq.unicode);
    const uint8_t params[2] = {0, 0};  // EaErrorOffset
    if (data.failed)
        rp_error(rp, STATUS_INSUFFICIENT_RESOURCES);
    else
        fake_trans_reply(rp, params, sizeof params, data.data, static_cast<size_t>(data.len));
    vnb_buf_free(&data);
}
