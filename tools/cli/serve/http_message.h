// A request as the gateway's handler sees it, the answer it gives, and the
// limits the HTTP server holds every client to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace serve {

// Each limit bounds what one client can cost: memory for a head, a socket
// for a slow or idle one, and no worker thread at all while it sends or reads.
struct HttpLimits {
    size_t max_request_line = 8 * 1024;  // longer: 414
    size_t max_head = 32 * 1024;         // request line and header fields: 431 beyond
    size_t max_fields = 100;             // header fields: 431 beyond
    int head_timeout_s = 10;             // the whole head, from its first byte (a new connection: from the accept)
    int idle_timeout_s = 15;             // a kept-alive connection waiting for its next request
    int send_timeout_s = 30;             // a client that takes no byte of an answer for this long is dropped
    int max_connections = 256;           // open connections in all: 503 beyond
    int max_per_client = 32;             // open connections from one client address: 503 beyond
};

struct HttpRequest {
    std::string method;
    std::string target;
    int version = 11;  // 10 or 11
    std::vector<std::pair<std::string, std::string>> fields;
    bool keep_alive = true;
    bool has_body = false;  // a body the server will not read: the connection closes after the answer
    std::string client;     // the peer's address

    // The value of the first field of that name (ASCII case ignored); "" when absent.
    std::string_view header(std::string_view name) const;
    size_t count(std::string_view name) const;
};

// The bytes of a file answer, read on a worker thread while the previous
// part goes to the client. Released on a worker thread too: closing may
// wait for the server.
class BodySource {
public:
    virtual ~BodySource() = default;
    // Fills up to max bytes at the current position; the count, 0 or less
    // when reading failed.
    virtual int read(char *buffer, int max) = 0;
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> fields;  // besides Content-Length, Date and Connection
    std::string body;
    // A streamed body of length bytes; or, without a source, the length a
    // HEAD answer announces.
    std::shared_ptr<BodySource> source;
    int64_t length = -1;
    bool close = false;  // end the connection after this answer

    void set(std::string_view name, std::string value) { fields.emplace_back(std::string(name), std::move(value)); }
    void set_body(std::string text, std::string_view type)
    {
        body = std::move(text);
        set("Content-Type", std::string(type));
    }
};

}  // namespace serve
