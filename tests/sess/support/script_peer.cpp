#include "sess/support/script_peer.h"

#include "support/test_sockets.h"
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "crypto/crypto.h"
#include "util/error.h"

namespace sp {

void put8(Bytes &b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
}

void put16(Bytes &b, uint32_t v)
{
    put8(b, v);
    put8(b, v >> 8);
}

void put32(Bytes &b, uint32_t v)
{
    put16(b, v);
    put16(b, v >> 16);
}

void put64(Bytes &b, uint64_t v)
{
    put32(b, static_cast<uint32_t>(v));
    put32(b, static_cast<uint32_t>(v >> 32));
}

void append(Bytes &b, const Bytes &more)
{
    b.insert(b.end(), more.begin(), more.end());
}

Bytes utf16(const char *ascii)
{
    Bytes out;
    for (const char *p = ascii; *p; p++)
        put16(out, static_cast<uint8_t>(*p));
    return out;
}

uint16_t get16(const Bytes &b, size_t off)
{
    if (off + 2 > b.size())
        return 0;
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}

uint32_t get32(const Bytes &b, size_t off)
{
    return get16(b, off) | (uint32_t{get16(b, off + 2)} << 16);
}

Bytes nbss(const Bytes &msg)
{
    Bytes out{0x00, uint8_t(msg.size() >> 16), uint8_t(msg.size() >> 8), uint8_t(msg.size())};
    append(out, msg);
    return out;
}

Bytes reply_to(const Bytes &req, uint32_t status, const Bytes &words, const Bytes &bytes, uint16_t flags2)
{
    Bytes r{0xFF, 'S', 'M', 'B', command_of(req)};
    put32(r, status);
    put8(r, 0x98);
    put16(r, flags2);
    put16(r, 0);   // PIDHigh
    put64(r, 0);   // SecuritySignature
    put16(r, 0);   // Reserved
    put16(r, tid_of(req));
    put16(r, get16(req, 26));
    put16(r, uid_of(req));
    put16(r, mid_of(req));
    put8(r, static_cast<uint32_t>(words.size() / 2));
    append(r, words);
    put16(r, static_cast<uint32_t>(bytes.size()));
    append(r, bytes);
    return r;
}

Bytes expected_signature(const Bytes &key, uint32_t seq, const Bytes &msg)
{
    Bytes material = key;
    Bytes copy = msg;
    for (int i = 0; i < 8; i++)
        copy[14 + i] = 0;
    copy[14] = uint8_t(seq);
    copy[15] = uint8_t(seq >> 8);
    copy[16] = uint8_t(seq >> 16);
    copy[17] = uint8_t(seq >> 24);
    append(material, copy);
    uint8_t digest[16];
    vnb_md5(material.data(), material.size(), digest);
    return Bytes(digest, digest + 8);
}

void sign_as_peer(const Bytes &key, uint32_t seq, Bytes &msg)
{
    msg[10] |= 0x04;
    Bytes sig = expected_signature(key, seq, msg);
    std::memcpy(msg.data() + 14, sig.data(), 8);
}

// ---- in memory ----

void ScriptPeer::feed(const Bytes &msg)
{
    requests.push_back(msg);
    if (respond)
        for (const Bytes &reply : respond(msg))
            out.push_back(reply);
}

namespace {

class PeerTransport : public MsgTransport {
public:
    explicit PeerTransport(ScriptPeer &peer) : p_(peer) {}

    int32_t open(const char *host, int port, int) override
    {
        p_.connects++;
        p_.host = host ? host : "";
        p_.port = port;
        if (p_.connect_rc != 0 && !p_.connect_error.empty())
            vnb_set_error("%s", p_.connect_error.c_str());
        return p_.connect_rc;
    }
    int32_t send(std::span<const uint8_t> msg) override
    {
        if (p_.write_rc != 0)
            return vnb_fail(p_.write_rc, "write failed");
        p_.feed(Bytes(msg.begin(), msg.end()));
        return 0;
    }
    int32_t recv(ByteBuffer &msg, int) override
    {
        vnb_buf_free(&msg);
        if (p_.out.empty())
            return vnb_fail(-1, "no reply within the time-out");
        vnb_buf_put(&msg, p_.out.front().data(), p_.out.front().size());
        p_.out.pop_front();
        return 0;
    }
    // Replies still on their way go with the connection, as over TCP.
    void close() override
    {
        p_.closes++;
        p_.out.clear();
    }
    bool pipelines() const override { return p_.pipelines; }
    bool one_message_per_reply() const override { return p_.one_message_per_reply; }

private:
    ScriptPeer &p_;
};

}  // namespace

std::unique_ptr<MsgTransport> transport_for(ScriptPeer &peer)
{
    return std::make_unique<PeerTransport>(peer);
}

// ---- loopback TCP ----

namespace {

constexpr int kPollMs = 50;
constexpr auto kLifetime = std::chrono::seconds(20);

bool read_full(int fd, uint8_t *buf, size_t n, const std::atomic<bool> &stopping)
{
    size_t got = 0;
    while (got < n) {
        if (stopping)
            return false;
        pollfd pfd{fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, kPollMs);
        if (ready < 0)
            return false;
        if (ready == 0)
            continue;
        ssize_t k = ::recv(fd, buf + got, n - got, 0);
        if (k <= 0)
            return false;
        got += static_cast<size_t>(k);
    }
    return true;
}

bool write_full(int fd, const Bytes &b)
{
    size_t sent = 0;
    while (sent < b.size()) {
        ssize_t k = ::send(fd, b.data() + sent, b.size() - sent, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        sent += static_cast<size_t>(k);
    }
    return true;
}

}  // namespace

TcpPeer::TcpPeer(Responder respond, int max_connections)
    : respond_(std::move(respond)), max_connections_(max_connections)
{
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(listen_fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

TcpPeer::~TcpPeer()
{
    stop();
}

void TcpPeer::stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_fd_ >= 0) {
        close_socket(listen_fd_);
        listen_fd_ = -1;
    }
}

std::vector<std::vector<Bytes>> TcpPeer::connections()
{
    std::lock_guard<std::mutex> guard(lock_);
    return conns_;
}

void TcpPeer::run()
{
    auto deadline = std::chrono::steady_clock::now() + kLifetime;
    int accepted = 0;
    while (!stopping_ && listen_fd_ >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{listen_fd_, POLLIN, 0};
        if (::poll(&pfd, 1, kPollMs) <= 0)
            continue;
        int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        if (++accepted >= max_connections_) {
            close_socket(listen_fd_);
            listen_fd_ = -1;
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            conns_.emplace_back();
        }
        serve(fd);
        close_socket(fd);
    }
}

void TcpPeer::serve(int fd)
{
    for (;;) {
        uint8_t head[4];
        if (!read_full(fd, head, 4, stopping_))
            return;
        size_t n = (size_t{head[1]} << 16) | (size_t{head[2]} << 8) | head[3];
        Bytes msg(n);
        if (n && !read_full(fd, msg.data(), n, stopping_))
            return;
        {
            std::lock_guard<std::mutex> guard(lock_);
            conns_.back().push_back(msg);
        }
        for (const Bytes &reply : respond_(msg))
            if (!write_full(fd, nbss(reply)))
                return;
    }
}

}  // namespace sp
