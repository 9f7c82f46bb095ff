#include "net/frame_dump.h"

#include <cstdio>
#include <cstdlib>

namespace {

void append_to(const char *variable, const uint8_t *header, size_t header_len, const uint8_t *bytes, size_t len)
{
    const char *name = std::getenv(variable);
    if (name == nullptr || name[0] == '\0')
        return;
    std::FILE *f = std::fopen(name, "ab");
    if (f == nullptr)
        return;
    if (header_len)
        std::fwrite(header, 1, header_len, f);
    if (len)
        std::fwrite(bytes, 1, len, f);
    std::fclose(f);
}

}  // namespace

void dump_frame(const char *variable, const uint8_t *msg, size_t len)
{
    const uint8_t header[4] = {0x00, uint8_t(len >> 16), uint8_t(len >> 8), uint8_t(len)};
    append_to(variable, header, sizeof header, msg, len);
}

void dump_bytes(const char *variable, const uint8_t *bytes, size_t len)
{
    append_to(variable, nullptr, 0, bytes, len);
}
