// A connection's open handles (files, folders, the srvsvc pipe) and
// searches.
#include <cstdlib>
#include <cstring>

#include "fake/fake_internal.h"

FakeHandle *fake_handle_new(FakeServerState &st, uint32_t tid)
{
    for (FakeHandle &h : st.handles) {
        if (h.used)
            continue;
        uint32_t fid = fake_draw_fid(st);
        memset(&h, 0, sizeof h);
        h.used = 1;
        h.fid = fid;
        h.tid = tid;
        return &h;
    }
    return nullptr;
}

const FakeHandle *fake_handle_by_fid(const FakeServerState &st, uint32_t fid)
{
    for (const FakeHandle &h : st.handles)
        if (h.used && h.fid == fid)
            return &h;
    return nullptr;
}

FakeHandle *fake_handle_by_fid(FakeServerState &st, uint32_t fid)
{
    return const_cast<FakeHandle *>(fake_handle_by_fid(static_cast<const FakeServerState &>(st), fid));
}

void fake_handle_free(FakeHandle *h)
{
    vnb_buf_free(&h->pipe_out.data);
    memset(h, 0, sizeof *h);
}

void fake_search_free(FakeSearch *s)
{
    free(s->list);
    memset(s, 0, sizeof *s);
}

void fake_close_all_handles(FakeServerState &st)
{
    for (FakeHandle &h : st.handles)
        fake_handle_free(&h);
}

void fake_close_all_searches(FakeServerState &st)
{
    for (FakeSearch &s : st.searches)
        fake_search_free(&s);
}

void fake_state_reset(FakeServerState &st)
{
    fake_close_all_handles(st);
    fake_close_all_searches(st);
    memset(&st, 0, sizeof st);
}
