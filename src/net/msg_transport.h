// A connection that carries whole SMB1 messages (no NBSS header) to one
// server: the one interface the engine sends and receives through. Each kind
// (TCP with NBSS framing, the host relay, the fake server) implements it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "util/bytebuf.h"
#include "vnsmb1c.h"

class CallSignal;

// What kind of failure ended an exchange: decisions are taken on this value,
// never on the wording of the error text.
enum class Failure : uint8_t {
    none,
    timed_out,  // the server did not answer within the session's time-out
    deadline,   // the call's own limit passed first
    cancelled,  // a cancel reached the call
    closed,     // the peer closed the connection
    broken,     // any other failure of the connection
};

class MsgTransport {
public:
    virtual ~MsgTransport() = default;

    // Opens the connection to host:port (ending an open one first): 0, or a
    // negative ResultCode with the error text set.
    virtual int32_t open(const char *host, int port, int timeout_ms) = 0;
    // Sends one message: 0, or a negative ResultCode.
    virtual int32_t send(std::span<const uint8_t> msg) = 0;
    // Receives the next message into `msg` (emptied first): 0, or a negative
    // ResultCode (-1 for a failed or closed connection and for a time-out).
    virtual int32_t recv(ByteBuffer &msg, int timeout_ms) = 0;
    // Ends the connection; open may be called again.
    virtual void close() = 0;
    // True when several requests may be outstanding at once; false for a kind
    // that answers every request before the next one may be sent.
    virtual bool pipelines() const = 0;
    // True for a kind that carries exactly one reply message per request:
    // a reply must then fit one message.
    virtual bool one_message_per_reply() const { return false; }
    // The kind of the last failed open, send or recv.
    virtual Failure failure() const { return Failure::broken; }
    // A signal whose cancel stops the waits of open, send and recv (-12
    // "cancelled"); NULL for none. Kinds that never wait ignore it.
    virtual void watch(const CallSignal *) {}
    // How the open connection reached the server, for the session report
    // ("port 445", "port 139, NetBIOS session as *SMBSERVER"); "" when the
    // kind has nothing to say.
    virtual const char *connected_via() const { return ""; }
    // The name the server is known by when open() is given its address (a
    // NetBIOS session request calls the server by it); NULL or "": the
    // host given to open.
    virtual void call_as(const char *) {}
};

// NULL only when it cannot be allocated. Port 0 asks for the default: 445,
// and when that is refused, 139 with a NetBIOS session request, which
// port 139 always gets.
std::unique_ptr<MsgTransport> vnb_transport_tcp();
// The two default ports of the TCP kind (445 and 139), for tests that
// cannot use the real ones; 0 restores each.
void vnb_tcp_default_ports(int direct, int netbios);
// The io is borrowed and must outlive the transport. NULL with the error text
// "io without http_post" for a NULL io or one without http_post (-6 for the
// caller to return), or when it cannot be allocated.
std::unique_ptr<MsgTransport> vnb_transport_relay(const vnsmb1c_HostIo *io);
