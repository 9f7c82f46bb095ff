// The NetBIOS name service client: name queries by broadcast or to a name
// server (WINS), and node status queries, several at a time on one port.
// Answers count only when they carry the transaction id of a query still
// waiting, come from port 137 (or the port the service names) of an address
// the query was sent to (for a broadcast: an address on that network), and
// answer what was asked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "net/datagram.h"
#include "net/nbns_wire.h"
#include "net/netif.h"

// Where the name service sends and what the resolver may use: the host's
// broadcast domains, port 137 and a UDP socket, unless a test or the fake
// server stands in for the network.
struct NameService {
    std::vector<Ipv4Net> nets;  // broadcasts go to each one's broadcast address
    uint16_t port = kNbnsPort;
    // A fresh port for one run of queries; empty: a UDP socket.
    std::function<std::unique_ptr<DatagramPort>()> open_port;
    // The dns method: empty asks the system's resolver; otherwise this
    // function does (0 with the address text, or -1).
    std::function<int(const char *host, std::string *address)> dns;
    // A host name used as it is, without resolving it (the fake server's "fake").
    std::string literal_host;
};

// How a run of queries is paced: `tries` sends, `interval_ms` apart, and
// answers taken until `window_ms` after the first send.
struct NbTiming {
    int tries;
    int interval_ms;
    int window_ms;
};

// A name query: three sends half a second apart, two seconds in all. A node
// status: the same sends, one and a half seconds in all.
inline constexpr NbTiming kNameQueryTiming{3, 500, 2000};
inline constexpr NbTiming kNodeStatusTiming{3, 500, 1500};

struct NbAnswer {
    uint32_t from = 0;  // the answering address
    NbnsReply reply;
};

struct NbQuery {
    NbnsAsk ask = NbnsAsk::broadcast;
    NbName name;           // not used by a node status
    uint32_t to = 0;       // the name server or node asked; not used by a broadcast
    bool collect = false;  // a broadcast that takes every answer until the window closes

    // Results.
    uint16_t trn_id = 0;
    bool sent = false;      // at least one request went out
    bool negative = false;  // the name server does not know the name
    std::string send_error; // why nothing went out
    std::vector<NbAnswer> answers;  // at most one per answering address

    bool done() const;
};

// The most answers one query keeps.
inline constexpr size_t kMaxAnswersPerQuery = 256;

// Runs the queries together until each is done, the timing's window closes,
// the deadline (vnb_now_ms time) passes or stop returns true (asked every
// few tens of milliseconds). 0, or -1 when no port could be opened (error
// text set). Broadcasts go only to the networks of ns; unicast queries to
// 0.0.0.0, 255.255.255.255 or a multicast address are not sent.
int32_t vnb_nbns_run(const NameService &ns, std::span<NbQuery> queries, const NbTiming &timing, uint64_t deadline_ms,
                     const std::function<bool()> &stop = {});

// The name service of the host: its broadcast domains, port 137, UDP and the
// system's resolver; or, while a test has redirected it, the test's
// loopback responder.
NameService vnb_host_name_service();

// Test hook: sends every name service query of the host's name service to
// 127.0.0.1:port instead, as the only "network", and answers the dns method
// from `hosts` (pairs of name and address) instead of the system's
// resolver. port 0 ends the redirection. Only the library's internal
// interface reaches it.
void vnb_name_service_redirect(uint16_t port, std::vector<std::pair<std::string, std::string>> hosts = {});
