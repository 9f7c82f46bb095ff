// Pieces shared by the library's own HostIo objects.
#include "net/own_hostio.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "util/text.h"

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
    return hostio_refuse(out_error, "smbrpc transport: GET is not used");
}

void sio_free(void *, void *pointer)
{
    std::free(pointer);
}

int hostio_refuse(char **out_error, const char *text)
{
    if (out_error)
        *out_error = heap_copy(text);
    return -1;
}

int hostio_hand_over(std::span<const uint8_t> msg, char **out_body, long *out_status)
{
    if (out_status)
        *out_status = kHttpOk;
    char *text = vnb_b64enc(msg.data(), msg.size());
    if (text == nullptr)
        return -1;
    if (out_body)
        *out_body = text;
    else
        std::free(text);
    return 0;
}

bool hostio_decode_body(const char *body, ByteBuffer *msg)
{
    return vnb_b64dec(body ? body : "", msg) == 0;
}

bool smb1_is_negotiate(std::span<const uint8_t> msg)
{
    static constexpr uint8_t kNegotiateStart[] = {0xFF, 'S', 'M', 'B', 0x72};
    return msg.size() >= sizeof kNegotiateStart && 
           std::equal(std::begin(kNegotiateStart), std::end(kNegotiateStart), msg.begin());
}
