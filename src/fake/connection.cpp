// Connections to the fake server.
#include <new>

#include "fake/fake_internal.h"

struct FakeConnection {
    int32_t open;
};

FakeConnection *vnb_fake_open()
{
    if (!F.loaded)
        return nullptr;
    return new (std::nothrow) FakeConnection{1};
}

void vnb_fake_close(FakeConnection *c)
{
    delete c;
}

void vnb_fake_answer(FakeConnection *c, const uint8_t *req, size_t len, ByteBuffer *out)
{
    if (c == nullptr)
        return;
    vnb_fake_handle_frame(req, len, out);
}
