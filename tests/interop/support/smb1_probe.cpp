#include "interop/support/smb1_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

uint16_t rd16(const std::vector<uint8_t> &b, size_t at)
{
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}

uint32_t rd32(const std::vector<uint8_t> &b, size_t at)
{
    return at + 4 <= b.size() ? static_cast<uint32_t>(rd16(b, at) | rd16(b, at + 2) << 16) : 0;
}

bool read_exact(int s, uint8_t *out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = recv(s, out + got, n - got, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

void put16(std::vector<uint8_t> &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &b, uint32_t v)
{
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}

// One request out, its reply (the SMB1 message) back; false when the
// exchange broke or the reply is no SMB1 message.
bool exchange(int s, uint8_t command, uint16_t flags2, uint16_t mid, const std::vector<uint8_t> &words,
              const std::vector<uint8_t> &bytes, std::vector<uint8_t> &reply)
{
    std::vector<uint8_t> msg = {0xFF, 'S', 'M', 'B', command};
    msg.resize(32, 0);
    msg[9] = 0x18;  // Flags: case-insensitive paths, canonical names
    msg[10] = static_cast<uint8_t>(flags2);
    msg[11] = static_cast<uint8_t>(flags2 >> 8);
    msg[26] = 0x2A;  // PID
    msg[30] = static_cast<uint8_t>(mid);
    msg.push_back(static_cast<uint8_t>(words.size() / 2));
    msg.insert(msg.end(), words.begin(), words.end());
    put16(msg, static_cast<uint16_t>(bytes.size()));
    msg.insert(msg.end(), bytes.begin(), bytes.end());

    std::vector<uint8_t> frame = {0, 0, static_cast<uint8_t>(msg.size() >> 8), static_cast<uint8_t>(msg.size())};
    frame.insert(frame.end(), msg.begin(), msg.end());
    if (send(s, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size()))
        return false;
    uint8_t head[4];
    if (!read_exact(s, head, 4) || head[0] != 0)
        return false;
    size_t len = static_cast<size_t>(head[1]) << 16 | static_cast<size_t>(head[2]) << 8 | head[3];
    reply.resize(len);
    return len >= 33 && read_exact(s, reply.data(), len) && std::memcmp(reply.data(), "\xFFSMB", 4) == 0;
}

}  // namespace

int probe_connect(int port, int timeout_ms)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

NegotiateInfo probe_negotiate_on(int s, const std::vector<std::string> &dialects, uint16_t flags2)
{
    std::vector<uint8_t> bytes;
    for (const auto &d : dialects) {
        bytes.push_back(0x02);
        bytes.insert(bytes.end(), d.begin(), d.end());
        bytes.push_back(0);
    }
    NegotiateInfo info;
    std::vector<uint8_t> &r = info.reply;
    if (!exchange(s, 0x72, flags2, 1, {}, bytes, r))
        return info;
    info.answered = true;
    info.status = rd32(r, 5);
    info.word_count = r[32];
    info.dialect = rd16(r, 33);
    if (info.word_count == 17 && r.size() >= 69) {
        info.security_mode = r[35];
        info.max_mpx = rd16(r, 36);
        info.max_buffer = rd32(r, 40);
        info.max_raw = rd32(r, 44);
        info.capabilities = rd32(r, 52);
        info.challenge_len = r[66];
        info.byte_count = rd16(r, 67);
    }
    return info;
}

SetupInfo probe_session_setup_basic(int s, const std::string &user, const std::string &domain,
                                    const std::vector<uint8_t> &lm_response,
                                    const std::vector<uint8_t> &nt_response)
{
    std::vector<uint8_t> words = {0xFF, 0};  // no AndX command
    put16(words, 0);                         // AndXOffset
    put16(words, 16644);                     // MaxBufferSize
    put16(words, 2);                         // MaxMpxCount
    put16(words, 1);                         // VcNumber
    put32(words, 0);                         // SessionKey
    put16(words, static_cast<uint16_t>(lm_response.size()));
    put16(words, static_cast<uint16_t>(nt_response.size()));
    put32(words, 0);       // Reserved
    put32(words, 0x0050);  // Capabilities: NT SMBs, 32-bit status
    std::vector<uint8_t> bytes(lm_response);
    bytes.insert(bytes.end(), nt_response.begin(), nt_response.end());
    for (const std::string &text : {user, domain, std::string("vnsmb1c-probe"), std::string("probe")}) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    SetupInfo info;
    std::vector<uint8_t> r;
    if (!exchange(s, 0x73, 0x4001, 2, words, bytes, r))
        return info;
    info.answered = true;
    info.status = rd32(r, 5);
    info.uid = rd16(r, 28);
    if (r[32] >= 3)
        info.action = rd16(r, 37);
    return info;
}

NegotiateInfo probe_negotiate(int port, const std::vector<std::string> &dialects, uint16_t flags2)
{
    int s = probe_connect(port);
    if (s < 0)
        return {};
    NegotiateInfo info = probe_negotiate_on(s, dialects, flags2);
    close(s);
    return info;
}

int probe_wait_closed(int s, int timeout_ms)
{
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
        return -2;
    uint8_t byte;
    ssize_t r = recv(s, &byte, 1, 0);
    return r > 0 ? 1 : static_cast<int>(r);
}
