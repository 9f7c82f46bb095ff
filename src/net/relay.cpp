// The host-io kind of Transport: each request message is relayed as one POST
// of Base64 text through the host's HostIo, and the reply is kept until the
// exchange collects it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/net_internal.h"
#include "util/error.h"
#include "util/text.h"

namespace {

constexpr char kContentType[] = "application/x-smb1-nbss+base64";
constexpr int kDefaultPort = 445;
constexpr size_t kUrlMax = 319;

// Texts that http_post handed out go back through the HostIo's own `free`.
void release(const HostIo *io, char *text)
{
    if (text == nullptr)
        return;
    if (io->free)
        io->free(io->context, text);
    else
        std::free(text);
}

// An IPv6 literal goes in brackets so that the far side can find the port.
void relay_url(const RelayCell *cell, char (&url)[kUrlMax + 1])
{
    int port = cell->port == 0 ? kDefaultPort : cell->port;
    bool bracket = std::strchr(cell->host, ':') != nullptr && cell->host[0] != '[';
    if (bracket)
        std::snprintf(url, sizeof url, "smbrpc://[%s]:%d/frame", cell->host, port);
    else
        std::snprintf(url, sizeof url, "smbrpc://%s:%d/frame", cell->host, port);
}

// Reads the outcome of one http_post into p, releasing every handed-out text.
void take_outcome(const HostIo *io, int rc, long status, char *body, char *error, PendingReply *p)
{
    release(io, error);  // never read: the return value and the status tell what happened
    if (rc != 0) {
        p->code = -1;
        std::snprintf(p->text, sizeof p->text, "transport failure");
    } else if (status == 401 || status == 403) {
        p->code = -3;
        std::snprintf(p->text, sizeof p->text, "transport refused credentials (HTTP %ld)", status);
    } else if (status != 200) {
        p->code = -1;
        std::snprintf(p->text, sizeof p->text, "transport status %ld", status);
    } else if (body == nullptr || vnb_b64dec(body, &p->reply) != 0) {
        p->code = -2;
        std::snprintf(p->text, sizeof p->text, "transport returned a body that is not base64 NBSS");
    }
    if (p->code != 0)
        vnb_buf_free(&p->reply);
    release(io, body);
}

}  // namespace

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
    char url[kUrlMax + 1];
    relay_url(cell, url);
    char *b64 = vnb_b64enc(req, req_len);
    PendingReply *p = pending_new();
    if (b64 == nullptr || p == nullptr) {
        std::free(b64);
        std::free(p);
        return vnb_fail(-11, "out of memory");
    }
    char *body = nullptr;
    char *error = nullptr;
    long status = 0;
    int rc = io->http_post(io->context, url, b64, kContentType, &body, &status, &error);
    std::free(b64);
    take_outcome(io, rc, status, body, error, p);
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
