#include "net/nbns_client.h"

#include <algorithm>
#include <mutex>
#include <random>

#include "net/clock.h"
#include "util/bytebuf.h"
#include "util/error.h"
#include "util/text.h"

namespace {

constexpr int kStopCheckMs = 20;
constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1

bool unicast_allowed(uint32_t ip)
{
    bool multicast_or_reserved = ip >= 0xE0000000u;  // 224.0.0.0 and above, 255.255.255.255 too
    return ip != 0 && !multicast_or_reserved;
}

bool from_asked(const NameService &ns, const NbQuery &q, const Datagram &d)
{
    if (d.port != ns.port)
        return false;
    if (q.ask != NbnsAsk::broadcast)
        return d.ip == q.to;
    return std::any_of(ns.nets.begin(), ns.nets.end(), [&](const Ipv4Net &n) { return n.contains(d.ip); });
}

// Whether the reply answers the query: a positive answer of the asked kind,
// or (for a name server) a negative one.
void take_reply(NbQuery &q, uint32_t from, NbnsReply &reply)
{
    if (reply.opcode != 0)
        return;
    if (reply.rcode != 0) {
        if (q.ask == NbnsAsk::name_server)
            q.negative = true;
        return;
    }
    if (!reply.has_answer)
        return;
    if (q.ask == NbnsAsk::node_status) {
        if (reply.rr_type != kNbnsTypeNbstat)
            return;
    } else if (reply.rr_type != kNbnsTypeNb || !(reply.rr_name == q.name) || reply.addresses.empty()) {
        return;
    }
    if (q.answers.size() >= kMaxAnswersPerQuery ||
        std::any_of(q.answers.begin(), q.answers.end(), [&](const NbAnswer &a) { return a.from == from; }))
        return;
    q.answers.push_back(NbAnswer{from, std::move(reply)});
}

void dispatch(const NameService &ns, std::span<NbQuery> queries, const Datagram &d)
{
    NbnsReply reply;
    if (nbns_parse_reply(d.bytes, &reply) != 0)
        return;
    for (NbQuery &q : queries) {
        if (q.trn_id == reply.trn_id && !q.done() && from_asked(ns, q, d)) {
            take_reply(q, d.ip, reply);
            return;
        }
    }
}

void send_all(const NameService &ns, DatagramPort &port, std::span<NbQuery> queries)
{
    for (NbQuery &q : queries) {
        if (q.done())
            continue;
        ByteBuffer request{};
        nbns_build_request(&request, q.trn_id, q.ask, q.name);
        if (request.failed) {
            q.send_error = "out of memory";
            vnb_buf_free(&request);
            continue;
        }
        std::span<const uint8_t> bytes(request.data, static_cast<size_t>(request.len));
        auto sent_to = [&](uint32_t ip, bool broadcast) {
            if (port.send(ip, ns.port, bytes, broadcast) == 0)
                q.sent = true;
            else if (q.send_error.empty())
                q.send_error = vnb_error();
        };
        if (q.ask == NbnsAsk::broadcast) {
            for (const Ipv4Net &n : ns.nets)
                sent_to(n.broadcast, n.broadcast != n.address);
        } else if (unicast_allowed(q.to)) {
            sent_to(q.to, false);
        } else if (q.send_error.empty()) {
            q.send_error = "not an address to send to: " + vnb_ipv4_text(q.to);
        }
        vnb_buf_free(&request);
    }
}

struct Redirect {
    std::mutex lock;
    uint16_t port = 0;
    std::vector<std::pair<std::string, std::string>> hosts;
};

Redirect &redirect()
{
    static Redirect r;
    return r;
}

}  // namespace

bool NbQuery::done() const
{
    if (ask == NbnsAsk::broadcast)
        return !collect && !answers.empty();
    return negative || !answers.empty();
}

int32_t vnb_nbns_run(const NameService &ns, std::span<NbQuery> queries, const NbTiming &timing, uint64_t deadline_ms,
                     const std::function<bool()> &stop)
{
    std::unique_ptr<DatagramPort> port = ns.open_port ? ns.open_port() : vnb_udp_port();
    if (!port)
        return -1;
    // Transaction ids from a random start, one per query, so that answers to
    // an earlier run or to other queries of this one are told apart.
    std::random_device random;
    auto first = static_cast<uint16_t>(random());
    for (size_t i = 0; i < queries.size(); i++)
        queries[i].trn_id = static_cast<uint16_t>(first + i);

    uint64_t start = vnb_now_ms();
    uint64_t window_end = std::min(start + static_cast<uint64_t>(std::max(timing.window_ms, 0)), deadline_ms);
    int tries = 0;
    uint64_t next_send = start;
    Datagram d;
    for (;;) {
        uint64_t now = vnb_now_ms();
        if (tries < timing.tries && now >= next_send) {
            send_all(ns, *port, queries);
            tries++;
            next_send = start + static_cast<uint64_t>(tries) * static_cast<uint64_t>(timing.interval_ms);
        }
        bool all_done = std::all_of(queries.begin(), queries.end(), [](const NbQuery &q) { return q.done(); });
        if (all_done || now >= window_end || (stop && stop()))
            return 0;
        uint64_t until = tries < timing.tries ? std::min(next_send, window_end) : window_end;
        int64_t wait = static_cast<int64_t>(until) - static_cast<int64_t>(now);
        if (stop)
            wait = std::min<int64_t>(wait, kStopCheckMs);
        int rc = port->recv(d, static_cast<int>(std::max<int64_t>(wait, 0)));
        if (rc == -2) {
            // Every send has had its answer: the next one goes out now, and
            // after the last nothing more will come.
            if (tries >= timing.tries)
                return 0;
            next_send = now;
            continue;
        }
        if (rc == -1)
            return 0;  // the queries keep what they have
        if (rc == 1)
            dispatch(ns, queries, d);
    }
}

NameService vnb_host_name_service()
{
    Redirect &r = redirect();
    std::lock_guard<std::mutex> guard(r.lock);
    NameService ns;
    if (r.port == 0) {
        ns.nets = vnb_host_broadcast_nets();
        return ns;
    }
    Ipv4Net loop;
    loop.name = "loopback";
    loop.address = kLoopback;
    loop.netmask = 0xFFFFFFFFu;
    loop.broadcast = kLoopback;
    ns.nets.push_back(loop);
    ns.port = r.port;
    ns.dns = [hosts = r.hosts](const char *host, std::string *address) {
        for (const auto &[name, addr] : hosts) {
            if (vnb_casecmp(name.c_str(), host) == 0) {
                *address = addr;
                return 0;
            }
        }
        return -1;
    };
    return ns;
}

void vnb_name_service_redirect(uint16_t port, std::vector<std::pair<std::string, std::string>> hosts)
{
    Redirect &r = redirect();
    std::lock_guard<std::mutex> guard(r.lock);
    r.port = port;
    r.hosts = port != 0 ? std::move(hosts) : std::vector<std::pair<std::string, std::string>>{};
}
