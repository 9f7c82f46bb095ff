// Helpers the fuzz targets share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// The input as a C string, in a heap block of exactly its size and the NUL:
// a read past the NUL is reported (a std::string has spare capacity there).
inline std::unique_ptr<char[]> fuzz_text(const uint8_t *data, size_t size)
{
    auto text = std::make_unique_for_overwrite<char[]>(size + 1);
    if (size != 0)
        std::memcpy(text.get(), data, size);
    text[size] = '\0';
    return text;
}

// A broken invariant is a finding: say which and stop the run.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

// True when a NUL ends the text inside its capacity.
inline bool terminated_within(const char *text, size_t capacity)
{
    return std::memchr(text, '\0', capacity) != nullptr;
}
