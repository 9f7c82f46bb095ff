// Runs `vnsmb1c serve` as a separate process on a free loopback port and
// talks HTTP to it.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace serve_test {

// A gateway process; stopped by its PID when the object goes away.
class Gateway {
public:
    Gateway() = default;
    Gateway(const Gateway &) = delete;
    Gateway &operator=(const Gateway &) = delete;
    ~Gateway() { stop(); }

    // Starts the tool with argv (without the program name) and waits for the
    // line naming its address; false when it ended or never said it.
    bool start(const std::string &program, const std::vector<std::string> &args, const std::string &log_path)
    {
        int out[2];
        if (pipe(out) != 0)
            return false;
        pid_ = fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            FILE *log = std::fopen(log_path.c_str(), "w");
            if (log != nullptr)
                dup2(fileno(log), STDERR_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<std::string> argv_text = {program};
            argv_text.insert(argv_text.end(), args.begin(), args.end());
            std::vector<char *> argv;
            for (auto &a : argv_text)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        // The start line: "vnsmb1c: serving smb://... on http://ADDR:PORT/".
        std::string line;
        char c;
        for (int rounds = 0; rounds < 4096 && line.find('\n') == std::string::npos; rounds++) {
            pollfd pfd{out_, POLLIN, 0};
            if (poll(&pfd, 1, kStartLimitMs) <= 0 || read(out_, &c, 1) != 1)
                break;
            line += c;
        }
        start_line_ = line;
        auto colon = line.rfind(':');
        auto end = line.rfind('/');
        if (line.find("http://") == std::string::npos || colon == std::string::npos || end == std::string::npos ||
            end < colon)
            return false;
        port_ = std::atoi(line.substr(colon + 1, end - colon - 1).c_str());
        return port_ > 0;
    }

    // Sends SIGTERM and waits for the exit; the exit status.
    int stop()
    {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200; i++) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            usleep(25000);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        if (out_ >= 0)
            close(out_);
        out_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::string &start_line() const { return start_line_; }

    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", port_);
        c.set_connection_timeout(10);
        c.set_read_timeout(30);
        return c;
    }

    static constexpr int kStartLimitMs = 20000;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    std::string start_line_;
};

// True once answer holds a whole response with a Content-Length.
inline bool complete(const std::string &answer)
{
    auto end = answer.find("\r\n\r\n");
    if (end == std::string::npos)
        return false;
    std::string head = answer.substr(0, end + 2);
    for (char &c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto at = head.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return false;
    size_t length = std::strtoull(head.c_str() + at + 17, nullptr, 10);
    return answer.size() >= end + 4 + length;
}

// The bytes a client sends as one request, and everything the gateway
// answers until it closes the connection (bounded in time).
inline std::string raw_exchange(int port, const std::string &request)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return "";
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buf[4096];
        for (int rounds = 0; rounds < 1000; rounds++) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 10000) <= 0)
                break;
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            answer.append(buf, static_cast<size_t>(n));
            if (complete(answer))
                break;  // the gateway may keep the connection open for another request
        }
    }
    close(fd);
    return answer;
}

// The status code of a raw answer ("HTTP/1.1 400 ..."), or 0.
inline int raw_status(const std::string &answer)
{
    if (answer.compare(0, 5, "HTTP/") != 0)
        return 0;
    auto space = answer.find(' ');
    return space == std::string::npos ? 0 : std::atoi(answer.c_str() + space + 1);
}

}  // namespace serve_test
