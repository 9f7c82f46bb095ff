// A C string copied into a heap block of exactly its length plus the NUL, so
// that AddressSanitizer reports a read of even one byte past the NUL (a
// literal or a short std::string has neighbours or spare capacity there).
#pragma once

#include <cstring>
#include <memory>

inline std::unique_ptr<char[]> heap_text(const char *text)
{
    if (text == nullptr)
        return nullptr;
    size_t size = std::strlen(text) + 1;
    auto copy = std::make_unique_for_overwrite<char[]>(size);
    std::memcpy(copy.get(), text, size);
    return copy;
}
