// Growable byte string that every encoder appends to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/error.h"

// All fields zero is a valid empty buffer. After a successful append the
// content is followed by one NUL that len does not count. Once a growth fails,
// `failed` stays set and no append changes the buffer until vnb_buf_free.
struct ByteBuffer {
    uint8_t *data;
    uint64_t len;
    uint64_t cap;
    int32_t failed;
};

// Room for `add` more bytes plus the NUL: 0, or -1 (and failed set).
int buf_reserve(ByteBuffer *b, uint64_t add);
void vnb_buf_put(ByteBuffer *b, const void *bytes, uint64_t n);
void vnb_buf_str(ByteBuffer *b, const char *text);
void vnb_buf_byte(ByteBuffer *b, int v);
void vnb_buf_printf(ByteBuffer *b, const char *fmt, ...) VNB_PRINTF(2, 3);
void vnb_buf_free(ByteBuffer *b);

// Little-endian (and one big-endian) integer appenders for wire messages.
void vnb_w16(ByteBuffer *b, uint32_t v);
void vnb_w32(ByteBuffer *b, uint32_t v);
void vnb_w64(ByteBuffer *b, uint64_t v);
void vnb_w16be(ByteBuffer *b, uint32_t v);
