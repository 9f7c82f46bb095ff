// Text and encoding helpers: UTF-8 <-> UTF-16LE, ASCII case folding,
// wildcard matching, hexadecimal, Base64 and FNV-1a. Pure functions; they
// report failure by their result and never touch the error text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/bytebuf.h"

// h = (h ^ byte) * 0x100000001b3 for each byte, from the caller's start value.
uint64_t vnb_fnv1a64(const void *bytes, size_t len, uint64_t h);

// Counted UTF-16LE -> NUL-terminated UTF-8. Returns the UTF-8 length without
// the NUL, or -1 (odd length, bad surrogate, zero unit, no room).
int32_t vnb_utf16_to_utf8(const uint8_t *in, size_t in_len, char *out, int32_t cap);
// NUL-terminated UTF-8 -> UTF-16LE without terminator; *out_len gets the byte
// count on success. 0 or -1.
int vnb_utf8_to_utf16le(const char *in, uint8_t *out, int32_t cap, int32_t *out_len);
// NUL-terminated UTF-8 -> Latin-1 without terminator, the 8-bit string form
// of a server without Unicode. 0, or -1 for a character outside Latin-1, a
// malformed sequence or no room.
int vnb_utf8_to_latin1(const char *in, uint8_t *out, size_t cap, size_t *out_len);

int32_t vnb_casecmp(const char *a, const char *b);
int32_t vnb_ncasecmp(const char *a, const char *b, size_t max);
// "*" and "?" wildcards, ASCII case-insensitive. 1 on a match, else 0.
int vnb_glob_match(const char *pattern, const char *name);

// Value of one hexadecimal digit (either case), or -1.
constexpr int vnb_hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 0 or -1. out may be NULL (count only); count may be NULL.
int vnb_hex_decode(const char *text, size_t text_len, uint8_t *out, size_t cap, size_t *count);
void vnb_hex_encode(const void *bytes, size_t len, ByteBuffer *b);

// Heap text (free() it), or NULL when the allocation fails.
char *vnb_b64enc(const void *bytes, size_t len);
// Appends the decoded bytes; 0 or -1.
int vnb_b64dec(const char *text, ByteBuffer *b);
