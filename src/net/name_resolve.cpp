#include "net/name_resolve.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "net/clock.h"
#include "net/net_internal.h"
#include "util/error.h"
#include "util/text.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {

struct MethodName {
    NameMethod method;
    std::string_view name;
};

constexpr MethodName kMethods[] = {{NameMethod::netbios, "netbios"}, {NameMethod::dns, "dns"}};

std::string_view trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

bool same_text(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && vnb_ncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool is_ipv6_literal(const char *host)
{
    if (std::strchr(host, ':') == nullptr)
        return false;
    in6_addr a{};
    char copy[64];
    // A zone (fe80::1%eth0) is not part of the address.
    size_t len = std::strcspn(host, "%");
    if (len >= sizeof copy)
        return false;
    std::memcpy(copy, host, len);
    copy[len] = '\0';
    return inet_pton(AF_INET6, copy, &a) == 1;
}

// ---- the system's resolver, on a thread of its own ----

// getaddrinfo cannot be given a time-out, so it runs on a thread that is
// left to finish by itself when another method answered first or the
// deadline passed; the job outlives whichever side ends last.
struct DnsJob {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int rc = -1;
    std::string address;
    std::string error;

    bool succeeded()
    {
        std::lock_guard<std::mutex> guard(lock);
        return done && rc == 0;
    }
    // Waits until done or the deadline; true when done.
    bool wait_until(uint64_t deadline_ms)
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            if (done)
                return true;
            int64_t left = static_cast<int64_t>(deadline_ms) - static_cast<int64_t>(vnb_now_ms());
            if (left <= 0)
                return false;
            finished.wait_for(guard, std::chrono::milliseconds(left));
        }
    }
};

void system_lookup(const std::string &host, std::string *address, std::string *error, int *rc)
{
    *rc = -1;
    if (!sock_startup()) {
        *error = "cannot start the sockets";
        return;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    int gai = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (gai != 0 || list == nullptr) {
        if (list != nullptr)
            freeaddrinfo(list);
        *error = gai == EAI_NONAME ? "not found" : "failed (" + std::to_string(gai) + ")";
        return;
    }
    const addrinfo *pick = list;
    for (const addrinfo *a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            pick = a;
            break;
        }
    }
    char text[NI_MAXHOST];
    if (getnameinfo(pick->ai_addr, static_cast<socklen_t>(pick->ai_addrlen), text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) == 0) {
        *address = text;
        *rc = 0;
    } else {
        *error = "gave an address that cannot be written";
    }
    freeaddrinfo(list);
}

std::shared_ptr<DnsJob> start_dns(const NameService &ns, const char *host)
{
    auto job = std::make_shared<DnsJob>();
    if (ns.dns) {
        job->rc = ns.dns(host, &job->address);
        job->error = "not found";
        job->done = true;
        return job;
    }
    try {
        std::thread([job, name = std::string(host)] {
            std::string address;
            std::string error;
            int rc = -1;
            system_lookup(name, &address, &error, &rc);
            std::lock_guard<std::mutex> guard(job->lock);
            job->address = std::move(address);
            job->error = std::move(error);
            job->rc = rc;
            job->done = true;
            job->finished.notify_all();
        }).detach();
    } catch (const std::exception &) {
        job->error = "cannot start a thread for it";
        job->done = true;
    }
    return job;
}

// "dns (not found)" or "dns (no answer in time)".
std::string dns_tried(DnsJob &job)
{
    std::lock_guard<std::mutex> guard(job.lock);
    if (!job.done)
        return "dns (no answer in time)";
    return "dns (" + job.error + ")";
}

bool dns_result(DnsJob &job, ResolvedHost *out)
{
    std::lock_guard<std::mutex> guard(job.lock);
    if (!job.done || job.rc != 0)
        return false;
    out->address = job.address;
    out->method = "dns";
    return true;
}

// ---- NetBIOS ----

}  // namespace

bool vnb_nb_answer_address(const NameService &ns, const NbAnswer &a, uint32_t *out)
{
    bool found = false;
    for (const NbAddress &e : a.reply.addresses) {
        if ((e.flags & kNbGroupName) != 0 || e.ipv4 == 0 || e.ipv4 >= 0xE0000000u)
            continue;
        bool broadcast_address = false;
        bool on_our_net = false;
        for (const Ipv4Net &n : ns.nets) {
            broadcast_address = broadcast_address || (e.ipv4 == n.broadcast && n.broadcast != n.address);
            on_our_net = on_our_net || n.contains(e.ipv4);
        }
        if (broadcast_address)
            continue;
        if (on_our_net) {
            *out = e.ipv4;
            return true;
        }
        if (!found) {
            *out = e.ipv4;
            found = true;
        }
    }
    return found;
}

namespace {

bool first_answer(const NameService &ns, const NbQuery &q, ResolvedHost *out, const char *method)
{
    for (const NbAnswer &a : q.answers) {
        uint32_t ip = 0;
        if (vnb_nb_answer_address(ns, a, &ip)) {
            out->address = vnb_ipv4_text(ip);
            out->method = method;
            return true;
        }
    }
    return false;
}

std::string query_outcome(const NbQuery &q)
{
    if (q.negative)
        return "does not know the name";
    if (!q.answers.empty())
        return "answered without a usable address";
    if (!q.sent)
        return "cannot send: " + q.send_error;
    return "no answer";
}

std::string net_names(const NameService &ns)
{
    std::string names;
    for (const Ipv4Net &n : ns.nets)
        names += (names.empty() ? "" : ", ") + n.name;
    return names;
}

}  // namespace

bool NameSettings::uses(NameMethod m) const
{
    for (uint8_t i = 0; i < count; i++)
        if (order[i] == m)
            return true;
    return false;
}

int vnb_name_order_parse(std::string_view text, NameSettings *out)
{
    NameSettings parsed = *out;
    parsed.count = 0;
    while (true) {
        size_t comma = text.find(',');
        std::string_view item = trim(text.substr(0, comma));
        const MethodName *found = nullptr;
        for (const MethodName &m : kMethods)
            if (same_text(item, m.name))
                found = &m;
        if (found == nullptr || parsed.uses(found->method) || parsed.count >= parsed.order.size())
            return -1;
        parsed.order[parsed.count++] = found->method;
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    *out = parsed;
    return 0;
}

std::string vnb_name_order_text(const NameSettings &s)
{
    std::string text;
    for (uint8_t i = 0; i < s.count; i++)
        for (const MethodName &m : kMethods)
            if (m.method == s.order[i])
                text += (text.empty() ? "" : ",") + std::string(m.name);
    return text;
}

int32_t vnb_netbios_lookup(const char *name, const NameSettings &settings, const NameService &ns,
                           uint64_t deadline_ms, ResolvedHost *out, std::string *tried,
                           const std::function<bool()> &stop)
{
    NbName nb;
    if (!nb_name_make(name, kNbFileServer, &nb)) {
        *tried = "netbios (not a NetBIOS name)";
        return -1;
    }
    std::string parts;
    if (settings.wins != 0) {
        NbQuery q;
        q.ask = NbnsAsk::name_server;
        q.name = nb;
        q.to = settings.wins;
        if (vnb_nbns_run(ns, std::span<NbQuery>(&q, 1), kNameQueryTiming, deadline_ms, stop) != 0)
            q.send_error = vnb_error();
        if (first_answer(ns, q, out, "WINS"))
            return 0;
        parts = "WINS " + vnb_ipv4_text(settings.wins) + ": " + query_outcome(q);
    }
    bool stopped = stop && stop();
    if (!settings.broadcast) {
        parts += (parts.empty() ? "" : "; ") + std::string("broadcast switched off");
    } else if (ns.nets.empty()) {
        parts += (parts.empty() ? "" : "; ") + std::string("no interface to broadcast on");
    } else if (!stopped) {
        NbQuery q;
        q.ask = NbnsAsk::broadcast;
        q.name = nb;
        if (vnb_nbns_run(ns, std::span<NbQuery>(&q, 1), kNameQueryTiming, deadline_ms, stop) != 0)
            q.send_error = vnb_error();
        if (first_answer(ns, q, out, "broadcast"))
            return 0;
        parts += (parts.empty() ? "" : "; ") + ("broadcast on " + net_names(ns) + ": " + query_outcome(q));
    }
    *tried = "netbios (" + parts + ")";
    return -1;
}

int32_t vnb_resolve_host(const char *host, const NameSettings &settings, const NameService &ns, int timeout_ms,
                         ResolvedHost *out)
{
    if (host == nullptr || host[0] == '\0')
        return vnb_fail(-6, "empty host name");
    uint32_t ip4 = 0;
    if ((!ns.literal_host.empty() && vnb_casecmp(host, ns.literal_host.c_str()) == 0) || vnb_ipv4_parse(host, &ip4) ||
        is_ipv6_literal(host)) {
        out->address = host;
        out->method = "address";
        return 0;
    }
    uint64_t deadline = vnb_now_ms() + static_cast<uint64_t>(std::max(timeout_ms, 1));
    std::shared_ptr<DnsJob> dns;
    std::string netbios_tried;
    bool netbios_asked = false;
    auto run_netbios = [&](const std::function<bool()> &stop) {
        netbios_asked = true;
        return vnb_netbios_lookup(host, settings, ns, deadline, out, &netbios_tried, stop) == 0;
    };
    auto dns_answered = [&] { return dns && dns->succeeded(); };

    bool dotted = std::strchr(host, '.') != nullptr;
    NameMethod first = settings.order[0];
    bool both = settings.count > 1;
    if (dotted || first == NameMethod::dns) {
        // The system's resolver first: the other method starts once it has
        // failed or, for a single-label name, once its head start is over.
        if (settings.uses(NameMethod::dns)) {
            dns = start_dns(ns, host);
            uint64_t wait_until = dotted || !both ? deadline : std::min(deadline, vnb_now_ms() + kNameHeadStartMs);
            dns->wait_until(wait_until);
            if (dns_result(*dns, out))
                return 0;
        }
        if (settings.uses(NameMethod::netbios) && run_netbios(dns_answered))
            return 0;
    } else {
        // NetBIOS first; the system's resolver joins after the head start.
        uint64_t dns_from = vnb_now_ms() + kNameHeadStartMs;
        auto tick = [&] {
            if (both && !dns && vnb_now_ms() >= dns_from)
                dns = start_dns(ns, host);
            return dns_answered();
        };
        if (run_netbios(tick))
            return 0;
        if (both && !dns)
            dns = start_dns(ns, host);
    }
    if (dns) {
        dns->wait_until(deadline);
        if (dns_result(*dns, out))
            return 0;
    }
    std::string tried;
    for (uint8_t i = 0; i < settings.count; i++) {
        std::string part;
        if (settings.order[i] == NameMethod::dns && dns)
            part = dns_tried(*dns);
        else if (settings.order[i] == NameMethod::netbios && netbios_asked)
            part = netbios_tried;
        if (!part.empty())
            tried += (tried.empty() ? "" : ", ") + part;
    }
    return vnb_fail(-1, "cannot resolve %.200s: tried %.280s", host, tried.empty() ? "nothing" : tried.c_str());
}
