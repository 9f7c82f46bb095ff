// Connections to the fake server: each owns its state; the loaded tree, the
// fault switches and the call counters are shared.
#include <new>

#include "fake/fake_internal.h"

FakeConnection &fake_default_connection()
{
    static FakeConnection conn;
    return conn;
}

FakeConnection *vnb_fake_open()
{
    if (!F.loaded)
        return nullptr;
    auto *c = new (std::nothrow) FakeConnection{};
    if (c)
        c->generation = F.generation;
    return c;
}

void vnb_fake_close(FakeConnection *c)
{
    if (c == nullptr)
        return;
    fake_state_reset(c->st);
    delete c;
}

void vnb_fake_handle_frame(const uint8_t *req, size_t len, ByteBuffer *out)
{
    vnb_fake_answer(&fake_default_connection(), req, len, out);
}
