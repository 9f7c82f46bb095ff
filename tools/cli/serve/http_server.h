// A small HTTP/1.1 server: one event thread owns every connection (a slow
// or idle client costs a socket, never a thread), and a few worker threads
// run the handler and read file bodies, which may wait for the SMB server.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http_message.h"

namespace serve {

class HttpServer {
public:
    // Runs on a worker thread.
    using Handler = std::function<void(const HttpRequest &, HttpResponse &)>;
    // One call per answer, on the event thread: the request (null when its
    // head was refused), the client, the status and the body bytes sent.
    using Logger = std::function<void(const HttpRequest *, const std::string &client, int status, int64_t bytes)>;

    HttpServer(const HttpLimits &limits, int workers, Handler handler, Logger logger);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds host:port for this process alone: a port another socket listens
    // on is refused ("address already in use"). Port 0 takes any free one.
    // The port bound, or -1 with the reason in why.
    int bind(const std::string &host, int port, std::string &why);
    // Serves until the process ends.
    void run();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace serve
