#include "net/socket_hostio.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/msg_transport.h"
#include "net/own_hostio.h"
#include "util/error.h"

const vnsmb1c_HostIo g_sio_socket = {nullptr, sio_get, sio_post, sio_free};

namespace {

constexpr int kRelayTimeoutMs = 30000;
// Servers with a kept connection; beyond this, idle ones are let go.
constexpr size_t kMaxServers = 16;

// One server's connection. Its mutex keeps each request and its reply
// together when several threads post to the same server.
struct Link {
    std::mutex busy;
    std::unique_ptr<MsgTransport> transport;
    bool open = false;
    int users = 0;  // posts under way; counted under the table's guard
};

// The HostIo record has no context of its own, so the connections are
// process-wide, keyed by "host|port".
struct LinkTable {
    std::mutex guard;
    std::map<std::string, std::unique_ptr<Link>> links;
};

LinkTable &table()
{
    static LinkTable t;
    return t;
}

// Lets go of the connections that no post is using.
void let_idle_go(LinkTable &t)
{
    std::erase_if(t.links, [](const auto &entry) { return entry.second->users == 0; });
}

// The server's connection, counted as in use until link_done; NULL when it
// cannot be allocated.
Link *link_for(const char *host, int port)
{
    LinkTable &t = table();
    std::lock_guard<std::mutex> lock(t.guard);
    char key[272];
    std::snprintf(key, sizeof key, "%s|%d", host, port);
    auto it = t.links.find(key);
    if (it == t.links.end()) {
        if (t.links.size() >= kMaxServers)
            let_idle_go(t);
        auto link = std::make_unique<Link>();
        link->transport = vnb_transport_tcp();
        if (link->transport == nullptr)
            return nullptr;
        it = t.links.emplace(key, std::move(link)).first;
    }
    it->second->users++;
    return it->second.get();
}

void link_done(Link *link)
{
    std::lock_guard<std::mutex> lock(table().guard);
    link->users--;
}

// One request and its reply on the server's connection: 0, or -1 with the
// error text set. Any failure ends the connection, whose stream can no
// longer be trusted to pair requests with replies.
int32_t exchange(Link &link, const char *host, int port, std::span<const uint8_t> msg, ByteBuffer *reply)
{
    if (smb1_is_negotiate(msg) || !link.open) {
        link.open = false;
        if (link.transport->open(host, port, kRelayTimeoutMs) != 0)
            return -1;
        link.open = true;
    }
    int32_t rc = link.transport->send(msg);
    if (rc == 0)
        rc = link.transport->recv(*reply, kRelayTimeoutMs);
    if (rc != 0) {
        link.transport->close();
        link.open = false;
    }
    return rc;
}

}  // namespace

int sio_post(void *, const char *url, const char *body, const char *, char **out_body, long *out_status,
             char **out_error)
{
    if (out_body)
        *out_body = nullptr;
    char host[256];
    int port = 0;
    if (parse_smb_url(url, host, &port) != 0)
        return hostio_refuse(out_error, "bad smbrpc url");
    ByteBuffer msg{};
    if (!hostio_decode_body(body, &msg)) {
        vnb_buf_free(&msg);
        return hostio_refuse(out_error, "bad base64 body");
    }
    if (msg.len == 0)  // nothing to send, so no reply would ever come
        return hostio_refuse(out_error, "empty request");
    Link *link = link_for(host, port);
    if (link == nullptr) {
        vnb_buf_free(&msg);
        return hostio_refuse(out_error, "out of memory");
    }
    ByteBuffer reply{};
    int32_t rc;
    {
        std::lock_guard<std::mutex> lock(link->busy);
        rc = exchange(*link, host, port, std::span<const uint8_t>(msg.data, static_cast<size_t>(msg.len)), &reply);
    }
    link_done(link);
    vnb_buf_free(&msg);
    int result = rc == 0 ? hostio_hand_over(std::span<const uint8_t>(reply.data, static_cast<size_t>(reply.len)),
                                            out_body, out_status)
                         : hostio_refuse(out_error, vnb_error());
    vnb_buf_free(&reply);
    return result;
}
