// The library's own two HostIo objects, the far side of the relay in one
// process: one relays each posted frame over a new TCP connection, the other
// hands it to the in-process fake server.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fake/fake.h"
#include "net/net_internal.h"
#include "util/error.h"
#include "util/text.h"

const HostIo g_sio_socket = {nullptr, sio_get, sio_post, sio_free};
const HostIo g_sio_fake = {nullptr, sio_get, fio_post, fio_free};

namespace {

constexpr std::string_view kUrlPrefix = "smbrpc://";
constexpr size_t kHostMax = 255;
constexpr long kHttpOk = 200;
// Saturation bound while reading a port: far outside 1..65535, far inside int.
constexpr int kPortCeiling = 1000000;

// Every text handed out is a heap copy the caller releases through `free`.
char *heap_copy(const char *text)
{
    size_t n = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(std::malloc(n));
    if (copy)
        std::memcpy(copy, text, n);
    return copy;
}

// -1 with a copy of the text for the caller, when it asked for one.
int refuse(char **out_error, const char *text)
{
    if (out_error)
        *out_error = heap_copy(text);
    return -1;
}

// The reply message as Base64 text with status 200; -1 without a text when
// the encoding cannot be allocated (the status is 200 all the same).
int hand_over(const uint8_t *msg, size_t len, char **out_body, long *out_status)
{
    if (out_status)
        *out_status = kHttpOk;
    char *text = vnb_b64enc(msg, len);
    if (text == nullptr)
        return -1;
    if (out_body)
        *out_body = text;
    else
        std::free(text);
    return 0;
}

// The decimal number at the start of the text, read the way atoi reads it
// (leading blanks, an optional sign, digits up to the first other character)
// but saturating instead of overflowing.
int leading_number(const char *s)
{
    while (std::isspace(static_cast<unsigned char>(*s)))
        s++;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    int v = 0;
    for (; *s >= '0' && *s <= '9'; s++)
        v = std::min(v * 10 + (*s - '0'), kPortCeiling);
    return negative ? -v : v;
}

// The request message a post carries: its Base64 body (NULL counts as empty).
bool decode_body(const char *body, ByteBuffer *msg)
{
    return vnb_b64dec(body ? body : "", msg) == 0;
}

}  // namespace

int parse_smb_url(const char *url, char (&host)[256], int *port)
{
    if (url == nullptr)
        return -1;
    std::string_view text(url);
    if (!text.starts_with(kUrlPrefix))
        return -1;
    std::string_view rest = text.substr(kUrlPrefix.size());
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash == 0)
        return -1;
    // The last ':' separates, so an unbracketed "a:b:139" is host a:b.
    size_t colon = rest.substr(0, slash).rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return -1;
    std::string_view name = rest.substr(0, colon);
    if (name.size() > kHostMax)
        return -1;
    if (name.front() == '[') {
        if (name.size() < 2 || name.back() != ']')
            return -1;
        name = name.substr(1, name.size() - 2);
    }
    name.copy(host, name.size());
    host[name.size()] = '\0';
    int number = leading_number(rest.data() + colon + 1);
    if (port)
        *port = number;
    return number >= 1 && number <= 65535 ? 0 : -1;
}

int sio_get(void *, const char *, char **out_body, long *, char **out_error)
{
    if (out_body)
        *out_body = nullptr;
    return refuse(out_error, "smbrpc transport: GET is not used");
}

int sio_post(void *, const char *url, const char *body, const char *, char **out_body, long *out_status,
             char **out_error)
{
    if (out_body)
        *out_body = nullptr;
    char host[256];
    int port = 0;
    if (parse_smb_url(url, host, &port) != 0)
        return refuse(out_error, "bad smbrpc url");
    ByteBuffer msg{};
    if (!decode_body(body, &msg)) {
        vnb_buf_free(&msg);
        return refuse(out_error, "bad base64 body");
    }
    ByteBuffer reply{};
    int32_t rc = vnb_net_socket_roundtrip(host, port, msg.data, static_cast<size_t>(msg.len), &reply);
    vnb_buf_free(&msg);
    int result = rc == 0 ? hand_over(reply.data, static_cast<size_t>(reply.len), out_body, out_status)
                         : refuse(out_error, vnb_error());
    vnb_buf_free(&reply);
    return result;
}

int fio_post(void *, const char *url, const char *body, const char *, char **out_body, long *out_status,
             char **out_error)
{
    if (out_body)
        *out_body = nullptr;
    char host[256];
    int port = 0;
    if (parse_smb_url(url, host, &port) != 0)  // checked, then not used
        return refuse(out_error, "bad smbrpc url");
    if (!vnb_fake_loaded())
        return refuse(out_error, "no fake tree loaded");
    ByteBuffer msg{};
    if (!decode_body(body, &msg)) {
        vnb_buf_free(&msg);
        return refuse(out_error, "bad base64 body");
    }
    ByteBuffer frame{};
    uint32_t n = 0;
    const char *wrong = fake_answer(msg.data, static_cast<size_t>(msg.len), &frame, &n);
    vnb_buf_free(&msg);
    int result = wrong ? refuse(out_error, wrong) : hand_over(frame.data + 4, n, out_body, out_status);
    vnb_buf_free(&frame);
    return result;
}

void sio_free(void *, void *pointer)
{
    std::free(pointer);
}

void fio_free(void *, void *pointer)
{
    std::free(pointer);
}

const HostIo *vnb_vantrelx_io_socket()
{
    return &g_sio_socket;
}

const HostIo *vnb_vantrelx_io_fake()
{
    return &g_sio_fake;
}

int vnb_io_own_face(const HostIo *io)
{
    if (io == &g_sio_socket)
        return 1;
    if (io == &g_sio_fake)
        return 2;
    return 0;
}
