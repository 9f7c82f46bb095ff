// CLOSE: ends an open handle (file, folder or pipe). No session is needed.
#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"

namespace {

constexpr size_t kOffFid = smb::kOffWords;
constexpr size_t kMinLen = 39;  // through LastTimeModified

}  // namespace

void fake_cmd_close(const FakeRequest &rq, FakeReply &rp)
{
    if (rq.len < kMinLen || rq.wc < 3) {
        rp.send = false;
        return;
    }
    uint32_t fid = rq.u16_at(kOffFid);
    fake_trace("[close] req fid=%u\n", fid);
    FakeHandle *h = fake_handle_by_fid(rq.st, fid);
    fake_trace("[close] h=%p used=%d\n", static_cast<void *>(h), h ? h->used : -1);
    if (!h) {
        rp_error(rp, STATUS_INVALID_HANDLE);
        return;
    }
    fake_handle_free(h);
    rp_words(rp, 0);
    vnb_w16(&rp.msg, 0);
}
