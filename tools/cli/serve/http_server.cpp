#include "http_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "http_head.h"
#include "http_status.h"
#include "pages.h"

#ifdef _WIN32
#include <winsock2.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace serve {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

constexpr size_t kReadPiece = 16 * 1024;
// Bytes asked of the handler's source per read while a file streams; the
// next part is read while the previous one goes out.
constexpr int kStreamChunk = 2048 * 1024;
// After the last answer on a connection the server stops sending and reads
// what the client still sends for this long, so that a close does not
// reset the connection under an answer not yet read.
constexpr int kLingerS = 2;
// Connections beyond this many times the cap are closed without a word.
constexpr int kHardCapFactor = 2;

std::string http_now()
{
    using namespace std::chrono;
    return http_date(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

bool has_content_length(int status)
{
    return status >= 200 && status != 204 && status != 304;
}

}  // namespace

class Connection;

struct HttpServer::Impl {
    Impl(const HttpLimits &l, int workers, Handler h, Logger g)
        : limits(l), handler(std::move(h)), logger(std::move(g)), pool(static_cast<size_t>(workers))
    {
    }
    ~Impl()
    {
        io.stop();
        pool.join();
    }

    void accept();
    void admit(tcp::socket socket);
    // A connection closed: its place is free again.
    void release(const std::string &client)
    {
        open--;
        if (auto it = per_client.find(client); it != per_client.end() && --it->second <= 0)
            per_client.erase(it);
#ifdef __GLIBC__
        // The last connection gone: the heads of a flood go back to the
        // system rather than stay in the allocator's free lists (once a
        // second at most).
        auto now = std::chrono::steady_clock::now();
        if (open == 0 && now - last_trim > std::chrono::seconds(1)) {
            last_trim = now;
            malloc_trim(0);
        }
#endif
    }

    HttpLimits limits;
    Handler handler;
    Logger logger;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer accept_pause{io};
    asio::thread_pool pool;
    // Event thread only.
    int open = 0;
    std::map<std::string, int> per_client;
    std::chrono::steady_clock::time_point last_trim{};
};

// One client connection, owned by the event thread. Handler calls and body
// reads go to the workers and come back as posted completions.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(HttpServer::Impl &server, tcp::socket socket, std::string client)
        : server_(server), limits_(server.limits), socket_(std::move(socket)), timer_(server.io),
          client_(std::move(client))
    {
    }

    void start()
    {
        arm(limits_.head_timeout_s);
        take_head();
    }

    // Over a connection cap: 503 at once, without reading the request.
    void refuse_busy()
    {
        HttpResponse r;
        r.status = 503;
        r.set("Retry-After", "1");
        r.set_body("503 Service Unavailable: too many connections\n", "text/plain; charset=utf-8");
        r.close = true;
        answer(nullptr, std::move(r));
    }

    // reset: a client past a deadline gets a reset, and what the system
    // still holds for it is dropped rather than trickled out.
    void close_now(bool reset = false)
    {
        if (closed_)
            return;
        closed_ = true;
        error_code ignored;
        if (reset)
            socket_.set_option(asio::socket_base::linger(true, 0), ignored);
        else
            socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        timer_.cancel();
        release_source();
        server_.release(client_);
    }

private:
    // The connection closes unless something happens within seconds.
    void arm(int seconds)
    {
        timer_.expires_after(std::chrono::seconds(seconds));
        timer_.async_wait([weak = weak_from_this(), this](error_code ec) {
            auto self = weak.lock();
            // A wait already due when the deadline moved still completes.
            if (self && !ec && timer_.expiry() <= asio::steady_timer::clock_type::now())
                close_now(true);
        });
    }

    // The next request: from the bytes already received (pipelined), else
    // from the socket.
    void take_head()
    {
        if (closed_)
            return;
        HeadScan scan = scan_head(in_, limits_);
        switch (scan.kind) {
        case HeadScan::Kind::complete:
            return handle_head(scan.end);
        case HeadScan::Kind::line_too_long:
            return refuse(414, "the request line is longer than " + std::to_string(limits_.max_request_line) +
                                   " bytes");
        case HeadScan::Kind::head_too_large:
            return refuse(431, "the request head is larger than " + std::to_string(limits_.max_head) + " bytes");
        case HeadScan::Kind::incomplete:
            break;
        }
        piece_.resize(kReadPiece);
        socket_.async_read_some(asio::buffer(piece_), [self = shared_from_this()](error_code ec, size_t n) {
            if (ec || self->closed_)
                return self->close_now();
            // The first byte of a request on a kept-alive connection: the
            // whole head is due within its own time from here.
            if (self->in_.empty() && self->idle_)
                self->arm(self->limits_.head_timeout_s);
            self->idle_ = false;
            self->in_.append(self->piece_.data(), n);
            self->take_head();
        });
    }

    void handle_head(size_t end)
    {
        auto request = std::make_shared<HttpRequest>();
        HeadFault fault = parse_head(std::string_view(in_).substr(0, end), limits_, *request);
        in_.erase(0, end);
        if (fault.status != 0)
            return refuse(fault.status, fault.text);
        request->client = client_;
        timer_.cancel();  // the client waits for the answer: no deadline of its own
        asio::post(server_.pool, [self = shared_from_this(), request]() mutable {
            auto response = std::make_shared<HttpResponse>();
            try {
                self->server_.handler(*request, *response);
            } catch (const std::exception &) {
                *response = HttpResponse{};
                response->status = 500;
                response->set_body("500 Internal Server Error\n", "text/plain; charset=utf-8");
            }
            asio::io_context &io = self->server_.io;
            asio::post(io, [self = std::move(self), request, response] {
                self->answer(request.get(), std::move(*response));
            });
        });
    }

    void refuse(int status, const std::string &text)
    {
        HttpResponse r;
        r.status = status;
        r.set_body(std::to_string(status) + " " + std::string(reason_phrase(status)) + ": " + text + "\n",
                   "text/plain; charset=utf-8");
        r.close = true;
        answer(nullptr, std::move(r));
    }

    void answer(const HttpRequest *request, HttpResponse response)
    {
        if (closed_) {
            if (response.source)
                asio::post(server_.pool, [source = std::move(response.source)] {});
            return;
        }
        closing_ = response.close || !request || !request->keep_alive || request->has_body;
        bool head_only = request && request->method == "HEAD";
        status_ = response.status;
        logged_request_ = request ? std::optional<HttpRequest>(*request) : std::nullopt;

        int64_t length = response.source || response.length >= 0 ? response.length
                                                                    : static_cast<int64_t>(response.body.size());
        out_ = "HTTP/1.1 " + std::to_string(response.status) + " " + std::string(reason_phrase(response.status)) +
               "\r\n";
        for (const auto &[name, value] : response.fields)
            out_ += name + ": " + value + "\r\n";
        out_ += "Date: " + http_now() + "\r\n";
        if (has_content_length(response.status))
            out_ += "Content-Length: " + std::to_string(length) + "\r\n";
        if (closing_)
            out_ += "Connection: close\r\n";
        else if (request && request->version == 10)
            out_ += "Connection: keep-alive\r\n";
        out_ += "\r\n";

        sent_ = 0;
        source_ = std::move(response.source);
        bool stream = source_ && !head_only && length > 0 && has_content_length(response.status);
        if (!stream)
            release_source();
        if (!head_only && !stream && has_content_length(response.status)) {
            sent_ = static_cast<int64_t>(response.body.size());
            out_ += response.body;
        }
        send(out_.data(), out_.size(), [this, stream, length] {
            if (stream)
                start_stream(length);
            else
                answered();
        });
    }

    // Writes it all, each write allowed the send time-out to make progress.
    template <class Done>
    void send(const char *data, size_t size, Done done)
    {
        arm(limits_.send_timeout_s);
        socket_.async_write_some(asio::buffer(data, size),
                                 [self = shared_from_this(), data, size, done](error_code ec, size_t n) {
                                     if (ec || self->closed_)
                                         return self->close_now();
                                     if (n < size)
                                         return self->send(data + n, size - n, done);
                                     done();
                                 });
    }

    void answered()
    {
        if (server_.logger)
            server_.logger(logged_request_ ? &*logged_request_ : nullptr, client_, status_, sent_);
        logged_request_.reset();
        if (closing_)
            return linger();
        idle_ = true;
        arm(in_.empty() ? limits_.idle_timeout_s : limits_.head_timeout_s);
        take_head();
    }

    // Stops sending, then reads and drops what comes until the client
    // closes or the linger time is up.
    void linger()
    {
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        arm(kLingerS);
        piece_.resize(kReadPiece);
        socket_.async_read_some(asio::buffer(piece_), [self = shared_from_this()](error_code ec, size_t) {
            if (ec || self->closed_)
                return self->close_now();
            self->linger();
        });
    }

    // File bodies: two buffers, one being read by a worker while the other
    // goes to the client.
    void start_stream(int64_t length)
    {
        to_read_ = length;
        to_write_ = length;
        for (auto &b : chunks_)
            b.resize(static_cast<size_t>(std::min<int64_t>(kStreamChunk, length)));
        kick();
    }

    void kick()
    {
        if (closed_)
            return;
        if (reading_ < 0 && to_read_ > 0) {
            for (int i = 0; i < 2; i++) {
                if (i == writing_ || std::find(ready_.begin(), ready_.end(), i) != ready_.end())
                    continue;
                read_chunk(i);
                break;
            }
        }
        if (writing_ < 0 && !ready_.empty()) {
            writing_ = ready_.front();
            ready_.pop_front();
            int n = lengths_[writing_];
            send(chunks_[writing_].data(), static_cast<size_t>(n), [this, n] {
                writing_ = -1;
                sent_ += n;
                to_write_ -= n;
                if (to_write_ <= 0) {
                    release_source();
                    return answered();
                }
                kick();
            });
        }
    }

    void read_chunk(int i)
    {
        reading_ = i;
        int ask = static_cast<int>(std::min<int64_t>(kStreamChunk, to_read_));
        to_read_ -= ask;
        asio::post(server_.pool, [self = shared_from_this(), source = source_, i, ask, at = chunks_[i].data()]() mutable {
            int n = source->read(at, ask);
            source.reset();
            asio::io_context &io = self->server_.io;
            asio::post(io, [self = std::move(self), i, ask, n] { self->chunk_read(i, ask, n); });
        });
    }

    void chunk_read(int i, int ask, int n)
    {
        reading_ = -1;
        if (closed_)
            return;
        if (n <= 0)
            return close_now();  // the answer ends short: the client sees it was cut
        to_read_ += ask - std::min(n, ask);
        lengths_[i] = std::min(n, ask);
        ready_.push_back(i);
        kick();
    }

    // The source is let go on a worker: closing a file may wait for the server.
    void release_source()
    {
        if (source_)
            asio::post(server_.pool, [source = std::move(source_)] {});
        source_.reset();
    }

    HttpServer::Impl &server_;
    const HttpLimits &limits_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::string client_;
    std::string in_;        // received, not yet taken as a request
    std::vector<char> piece_;
    std::string out_;       // the head (and small body) being written
    bool closed_ = false;
    bool closing_ = false;
    bool idle_ = false;     // waiting for the next request on a kept-alive connection
    int status_ = 0;
    int64_t sent_ = 0;
    std::optional<HttpRequest> logged_request_;

    std::shared_ptr<BodySource> source_;
    std::array<std::vector<char>, 2> chunks_;
    std::array<int, 2> lengths_{};
    std::deque<int> ready_;
    int reading_ = -1;
    int writing_ = -1;
    int64_t to_read_ = 0;
    int64_t to_write_ = 0;
};

void HttpServer::Impl::accept()
{
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
        if (!ec) {
            admit(std::move(socket));
            return accept();
        }
        if (ec == asio::error::operation_aborted)
            return;
        // Out of descriptors or memory: wait a little rather than spin.
        accept_pause.expires_after(std::chrono::milliseconds(100));
        accept_pause.async_wait([this](error_code) { accept(); });
    });
}

void HttpServer::Impl::admit(tcp::socket socket)
{
    error_code ec;
    tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return;
    asio::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    std::string client = address.to_string(ec);
    socket.set_option(tcp::no_delay(true), ec);
    open++;
    int from_client = ++per_client[client];
    auto c = std::make_shared<Connection>(*this, std::move(socket), client);
    if (open > limits.max_connections * kHardCapFactor)
        c->close_now();
    else if (open > limits.max_connections || from_client > limits.max_per_client)
        c->refuse_busy();
    else
        c->start();
}

HttpServer::HttpServer(const HttpLimits &limits, int workers, Handler handler, Logger logger)
    : impl_(std::make_unique<Impl>(limits, workers, std::move(handler), std::move(logger)))
{
}

HttpServer::~HttpServer() = default;

int HttpServer::bind(const std::string &host, int port, std::string &why)
{
    error_code ec;
    asio::ip::address address = asio::ip::make_address(host, ec);
    if (ec) {
        why = "not a numeric address";
        return -1;
    }
    tcp::endpoint at(address, static_cast<unsigned short>(port));
    tcp::acceptor &a = impl_->acceptor;
    if (a.open(at.protocol(), ec); !ec) {
#ifdef _WIN32
        // Windows lets SO_REUSEADDR take over a port in use; this refuses it.
        BOOL on = TRUE;
        ::setsockopt(a.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on),
                     sizeof on);
#else
        // A restart may bind over connections left in TIME_WAIT, never
        // beside a socket still listening (no SO_REUSEPORT).
        a.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
        if (address.is_v6())
            a.set_option(asio::ip::v6_only(true), ec);
        ec = {};
        a.bind(at, ec);
    }
    if (!ec)
        a.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        why = ec == asio::error::address_in_use ? "address already in use" : ec.message();
        a.close(ec);
        return -1;
    }
    return a.local_endpoint(ec).port();
}

void HttpServer::run()
{
    impl_->accept();
    impl_->io.run();
}

}  // namespace serve
