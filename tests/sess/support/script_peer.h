// A scripted SMB1 peer for the engine tests. The peer answers every request
// message the client sends with the messages its responder returns; it
// reaches the engine as a message transport (in memory) or as a loopback TCP
// server that speaks NBSS.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/msg_transport.h"

namespace sp {

using Bytes = std::vector<uint8_t>;

void put8(Bytes &b, uint32_t v);
void put16(Bytes &b, uint32_t v);
void put32(Bytes &b, uint32_t v);
void put64(Bytes &b, uint64_t v);
void append(Bytes &b, const Bytes &more);
Bytes utf16(const char *ascii);
uint16_t get16(const Bytes &b, size_t off);
uint32_t get32(const Bytes &b, size_t off);
Bytes nbss(const Bytes &msg);

// A reply message answering `req`: its command, TID, PID, UID and MID, the
// given status and Flags2, the words (WordCount = size / 2), ByteCount and
// the bytes.
Bytes reply_to(const Bytes &req, uint32_t status, const Bytes &words = {}, const Bytes &bytes = {},
               uint16_t flags2 = 0xC001);

// Request fields.
inline uint8_t command_of(const Bytes &req) { return req.size() > 4 ? req[4] : 0; }
inline uint16_t mid_of(const Bytes &req) { return get16(req, 30); }
inline uint16_t tid_of(const Bytes &req) { return get16(req, 24); }
inline uint16_t uid_of(const Bytes &req) { return get16(req, 28); }

// MD5(key || msg with the sequence number in the signature field), first 8
// bytes: the signature as the test computes it on its own.
Bytes expected_signature(const Bytes &key, uint32_t seq, const Bytes &msg);
// Signs msg in place the same way (sets Flags2 bit 0x0004 first).
void sign_as_peer(const Bytes &key, uint32_t seq, Bytes &msg);

// Returns the reply messages for one request (each gets an NBSS header).
using Responder = std::function<std::vector<Bytes>(const Bytes &request)>;

struct ScriptPeer {
    Responder respond;
    std::vector<Bytes> requests;  // every request message received, in order
    std::deque<Bytes> out;        // replies waiting for the client
    int connects = 0;
    int closes = 0;
    int connect_rc = 0;            // what open returns
    std::string connect_error;     // text it leaves behind when failing
    int write_rc = 0;              // what send returns
    bool pipelines = true;
    bool one_message_per_reply = false;
    std::string host;
    int port = 0;

    // Takes one request message and queues the responder's replies.
    void feed(const Bytes &msg);
};

// A message transport over the peer, which the test owns (close counts,
// and drops the replies still waiting). Nothing waiting when the client
// receives counts as a time-out.
std::unique_ptr<MsgTransport> transport_for(ScriptPeer &peer);

// A loopback TCP server that serves connections one after another with the
// same responder, each connection's requests kept apart. Bounded in time.
class TcpPeer {
public:
    // After max_connections accepts the server stops listening, so further
    // connects are refused.
    explicit TcpPeer(Responder respond, int max_connections = 1000);
    ~TcpPeer();
    int port() const { return port_; }
    // Stops accepting, ends the thread; safe to call twice.
    void stop();
    // Requests per connection (read after stop, or at any time under lock).
    std::vector<std::vector<Bytes>> connections();

private:
    void run();
    void serve(int fd);
    Responder respond_;
    int listen_fd_ = -1;
    int port_ = 0;
    int max_connections_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::vector<std::vector<Bytes>> conns_;
    std::thread thread_;
};

}  // namespace sp
