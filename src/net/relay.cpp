// The host-io kind of Transport: each request message is relayed as one POST
// of Base64 text through the host's HostIo, and the reply is kept until the
// exchange collects it.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "net/net_internal.h"
#include "net/relay_post.h"
#include "util/error.h"

int tio_connect(void *cell, const char *host, int port, int)
{
    auto *c = static_cast<RelayCell *>(cell);
    if (c == nullptr || c->io == nullptr || c->io->http_post == nullptr)
        return -1;
    std::snprintf(c->host, sizeof c->host, "%s", host ? host : "");
    c->port = port;
    return 0;
}

int tio_write(void *, const uint8_t *, size_t)
{
    return 0;
}

int tio_read(void *, uint8_t *, size_t, int)
{
    return 0;
}

void tio_close(void *cell)
{
    auto *c = static_cast<RelayCell *>(cell);
    if (c == nullptr)
        return;
    pending_clear(&c->pending);
    std::free(c);
}

bool relay_is(const Transport *t)
{
    return t->connect == tio_connect && t->context != nullptr;
}

int32_t relay_send(Transport *t, const uint8_t *req, size_t req_len)
{
    auto *cell = static_cast<RelayCell *>(t->context);
    const HostIo *io = cell->io;
    if (io == nullptr || io->http_post == nullptr)
        return vnb_fail(-1, "no transport installed");
    PendingReply *p = pending_new();
    if (p == nullptr)
        return vnb_fail(-11, "out of memory");
    p->code = vnb_relay_post(io, cell->host, cell->port, std::span<const uint8_t>(req, req_len), &p->reply, p->text);
    pending_push(&cell->pending, p);
    return 0;
}

int32_t relay_recv(Transport *t, ByteBuffer *reply)
{
    auto *cell = static_cast<RelayCell *>(t->context);
    return pending_take(&cell->pending, reply, "no relayed reply is pending");
}

int32_t vnb_net_io_from_vantrelx(Transport *t, const HostIo *io)
{
    if (t == nullptr || io == nullptr || io->http_post == nullptr)
        return vnb_fail(-6, "io without http_post");
    *t = Transport{};
    auto *cell = static_cast<RelayCell *>(std::calloc(1, sizeof(RelayCell)));
    if (cell == nullptr)
        return -1;
    cell->io = io;
    t->context = cell;
    t->connect = tio_connect;
    t->write = tio_write;
    t->read = tio_read;
    t->close = tio_close;
    return 0;
}
