#include "api/support/fake_tcp_front.h"

#include "support/test_sockets.h"
#include <unistd.h>

#include <chrono>
#include <functional>
#include <vector>

#include "fake/fake.h"
#include "fake/fake_lock.h"
#include "util/bytebuf.h"

namespace {

struct Client {
    int fd;
    FakeConnection *connection;
    std::vector<uint8_t> in;
    std::vector<std::vector<uint8_t>> held;  // answers held back, in order
};

uint64_t now_ms()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool send_all(int fd, const uint8_t *bytes, size_t len)
{
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::send(fd, bytes + done, len - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Answers (or, silent, swallows) every whole frame in the client's input;
// false once the connection is to end.
bool answer_frames(Client &c, bool silent, std::atomic<int> &unanswered,
                   const std::function<bool(const std::vector<uint8_t> &)> &hold)
{
    while (c.in.size() >= 4) {
        size_t len = (size_t{c.in[1]} << 16) | (size_t{c.in[2]} << 8) | c.in[3];
        if (c.in.size() < 4 + len)
            return true;
        uint8_t type = c.in[0];
        std::vector<uint8_t> msg(c.in.begin() + 4, c.in.begin() + static_cast<long>(4 + len));
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(4 + len));
        if (silent) {
            unanswered++;
            continue;
        }
        ByteBuffer out{};
        bool keep = true;
        {
            FakeModelLock model;  // the fake server is shared with in-process sessions
            if (type != 0x00)
                keep = vnb_fake_nbss_packet(c.connection, type, msg.data(), msg.size(), &out);
            else if (vnb_fake_nbss_open(c.connection))
                vnb_fake_answer(c.connection, msg.data(), msg.size(), &out);
            else
                keep = false;  // a port-139 server hangs up on a message before the session request
        }
        bool ok = true;
        if (type == 0x00 && out.len > 0 && hold(msg))
            c.held.emplace_back(out.data, out.data + out.len);
        else
            ok = out.len == 0 || send_all(c.fd, out.data, static_cast<size_t>(out.len));
        vnb_buf_free(&out);
        if (!ok || !keep)
            return false;
    }
    return true;
}

void end_client(Client &c)
{
    close_socket(c.fd);
    c.fd = -1;
    FakeModelLock model;
    vnb_fake_close(c.connection);
    c.connection = nullptr;
}

}  // namespace

FakeTcpFront::~FakeTcpFront()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close_socket(listener_);
}

bool FakeTcpFront::start(int lifetime_ms)
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&addr), len) != 0 || listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return false;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, lifetime_ms] { run(lifetime_ms); });
    return true;
}

void FakeTcpFront::run(int lifetime_ms)
{
    std::vector<Client> clients;
    uint64_t end = now_ms() + static_cast<uint64_t>(lifetime_ms);
    while (!stop_ && now_ms() < end) {
        if (hang_up_.exchange(false)) {
            for (Client &c : clients)
                end_client(c);
            clients.clear();
        }
        if (release_.exchange(false)) {
            {
                std::lock_guard<std::mutex> lock(mu_);
                hold_from_ = hold_to_ = 0;
            }
            for (Client &c : clients) {
                for (const auto &answer : c.held)
                    if (!send_all(c.fd, answer.data(), answer.size()))
                        break;
                c.held.clear();
            }
        }
        std::vector<pollfd> fds{{listener_, POLLIN, 0}};
        for (const Client &c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            int fd = accept(listener_, nullptr, nullptr);
            if (fd >= 0) {
                accepts_++;
                FakeModelLock model;
                clients.push_back({fd, vnb_fake_open(), {}, {}});
            }
        }
        for (size_t i = 1; i < fds.size(); i++) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Client &c = clients[i - 1];
            uint8_t buf[65536];
            ssize_t n = recv(c.fd, buf, sizeof buf, 0);
            bool keep = n > 0 && c.connection != nullptr;
            if (keep) {
                c.in.insert(c.in.end(), buf, buf + n);
                keep = answer_frames(c, silent_, unanswered_,
                                     [this](const std::vector<uint8_t> &msg) { return note_read(msg); });
            }
            if (!keep)
                end_client(c);
        }
        std::erase_if(clients, [](const Client &c) { return c.fd < 0; });
    }
    for (Client &c : clients)
        end_client(c);
}

std::vector<uint64_t> FakeTcpFront::reads() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return reads_;
}

bool FakeTcpFront::release()
{
    release_ = true;
    for (int i = 0; i < 500 && release_.load(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !release_.load();
}

void FakeTcpFront::hold_reads(uint64_t from, uint64_t to)
{
    std::lock_guard<std::mutex> lock(mu_);
    hold_from_ = from;
    hold_to_ = to;
}

bool FakeTcpFront::note_read(const std::vector<uint8_t> &msg)
{
    // READ_ANDX (0x2E) with twelve words: Offset at 39, OffsetHigh at 53.
    constexpr size_t kWords = 32;
    if (msg.size() < kWords + 1 + 24 || msg[4] != 0x2E || msg[kWords] != 12)
        return false;
    auto u32 = [&msg](size_t at) {
        return uint32_t{msg[at]} | uint32_t{msg[at + 1]} << 8 | uint32_t{msg[at + 2]} << 16 |
               uint32_t{msg[at + 3]} << 24;
    };
    const uint64_t offset = uint64_t{u32(kWords + 7)} | uint64_t{u32(kWords + 21)} << 32;
    std::lock_guard<std::mutex> lock(mu_);
    reads_.push_back(offset);
    return offset >= hold_from_ && offset < hold_to_;
}
