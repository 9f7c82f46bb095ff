#include "util/bytebuf.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr uint64_t kFirstBlock = 256;
constexpr uint64_t kLastDoubling = uint64_t{1} << 31;  // so the largest block is 2^32
}  // namespace

int buf_reserve(ByteBuffer *b, uint64_t add)
{
    if (b->failed)
        return -1;
    if (add > UINT64_MAX - b->len - 1) {
        b->failed = 1;
        return -1;
    }
    uint64_t need = b->len + add + 1;
    if (b->cap >= need)
        return 0;
    uint64_t size = b->cap ? b->cap : kFirstBlock;
    while (size < need) {
        if (size > kLastDoubling) {
            b->failed = 1;
            return -1;
        }
        size *= 2;
    }
    if (size > SIZE_MAX) {
        b->failed = 1;
        return -1;
    }
    void *block = std::realloc(b->data, static_cast<size_t>(size));
    if (!block) {
        b->failed = 1;
        return -1;
    }
    b->data = static_cast<uint8_t *>(block);
    b->cap = size;
    return 0;
}

void vnb_buf_put(ByteBuffer *b, const void *bytes, uint64_t n)
{
    if (buf_reserve(b, n) != 0)
        return;
    if (n)
        std::memcpy(b->data + b->len, bytes, static_cast<size_t>(n));
    b->len += n;
    b->data[b->len] = 0;
}

void vnb_buf_str(ByteBuffer *b, const char *text)
{
    vnb_buf_put(b, text, std::strlen(text));
}

void vnb_buf_byte(ByteBuffer *b, int v)
{
    uint8_t byte = static_cast<uint8_t>(v & 0xff);
    vnb_buf_put(b, &byte, 1);
}

void vnb_buf_printf(ByteBuffer *b, const char *fmt, ...)
{
    char scratch[512];
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(scratch, sizeof scratch, fmt, ap);
    va_end(ap);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (n <= 511) {
        vnb_buf_put(b, scratch, static_cast<uint64_t>(n));
    } else if (buf_reserve(b, static_cast<uint64_t>(n)) == 0) {
        std::vsnprintf(reinterpret_cast<char *>(b->data + b->len), static_cast<size_t>(n) + 1, fmt, again);
        b->len += static_cast<uint64_t>(n);
    }
    va_end(again);
}

void vnb_buf_free(ByteBuffer *b)
{
    std::free(b->data);
    *b = ByteBuffer{};
}

void vnb_w16(ByteBuffer *b, uint32_t v)
{
    const uint8_t bytes[2] = {uint8_t(v), uint8_t(v >> 8)};
    vnb_buf_put(b, bytes, sizeof bytes);
}

void vnb_w32(ByteBuffer *b, uint32_t v)
{
    const uint8_t bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    vnb_buf_put(b, bytes, sizeof bytes);
}

void vnb_w64(ByteBuffer *b, uint64_t v)
{
    vnb_w32(b, uint32_t(v));
    vnb_w32(b, uint32_t(v >> 32));
}

void vnb_w16be(ByteBuffer *b, uint32_t v)
{
    const uint8_t bytes[2] = {uint8_t(v >> 8), uint8_t(v)};
    vnb_buf_put(b, bytes, sizeof bytes);
}
