#include "net/relay_post.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/text.h"

namespace {

constexpr char kContentType[] = "application/x-smb1-nbss+base64";
constexpr int kDefaultPort = 445;
constexpr size_t kUrlMax = 319;

void release(const vnsmb1c_HostIo *io, char *text)
{
    if (text == nullptr)
        return;
    if (io->free)
        io->free(io->context, text);
    else
        std::free(text);
}

// An IPv6 literal goes in brackets so that the far side can find the port.
void relay_url(const char *host, int port, char (&url)[kUrlMax + 1])
{
    if (port == 0)
        port = kDefaultPort;
    bool bracket = std::strchr(host, ':') != nullptr && host[0] != '[';
    if (bracket)
        std::snprintf(url, sizeof url, "smbrpc://[%s]:%d/frame", host, port);
    else
        std::snprintf(url, sizeof url, "smbrpc://%s:%d/frame", host, port);
}

}  // namespace

int32_t vnb_relay_post(const vnsmb1c_HostIo *io, const char *host, int port, std::span<const uint8_t> msg,
                       ByteBuffer *reply, char (&text)[kRelayTextMax])
{
    vnb_buf_free(reply);
    char url[kUrlMax + 1];
    relay_url(host ? host : "", port, url);
    char *b64 = vnb_b64enc(msg.data(), msg.size());
    if (b64 == nullptr) {
        std::snprintf(text, sizeof text, "out of memory");
        return -11;
    }
    char *body = nullptr;
    char *error = nullptr;
    long status = 0;
    int rc = io->http_post(io->context, url, b64, kContentType, &body, &status, &error);
    std::free(b64);
    release(io, error);  // never read: the return value and the status tell what happened
    int32_t code = 0;
    if (rc != 0) {
        code = -1;
        std::snprintf(text, sizeof text, "transport failure");
    } else if (status == 401 || status == 403) {
        code = -3;
        std::snprintf(text, sizeof text, "transport refused credentials (HTTP %ld)", status);
    } else if (status != 200) {
        code = -1;
        std::snprintf(text, sizeof text, "transport status %ld", status);
    } else if (body == nullptr || vnb_b64dec(body, reply) != 0) {
        code = -2;
        std::snprintf(text, sizeof text, "transport returned a body that is not base64 NBSS");
    }
    if (code != 0)
        vnb_buf_free(reply);
    release(io, body);
    return code;
}
