// Host-owned folder-access records preset with marker bytes, so that a test
// can tell the backend left the host's own fields alone.
#pragma once

#include <cstdint>
#include <cstring>

#include "vnsmb1c.h"

inline constexpr uint32_t kHostWord = 0xA5A5A5A5u;
inline constexpr uint8_t kHostByte = 0x5A;

// A host-side entry whose bytes the backend must leave alone are preset.
inline vnsmb1c_FolderEntry host_entry()
{
    vnsmb1c_FolderEntry e;
    std::memset(&e, 0, sizeof e);
    e.host_data = kHostWord;
    std::memset(e.host_more, kHostByte, sizeof e.host_more);
    e.flags = 0xFFFFFFFFu;
    e.size = 12345;
    e.mtime_ms = 12345;
    return e;
}

inline bool host_bytes_intact(const vnsmb1c_FolderEntry &e)
{
    for (uint8_t b : e.host_more)
        if (b != kHostByte)
            return false;
    return e.host_data == kHostWord;
}
