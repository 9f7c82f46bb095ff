// NetBIOS names: the 16-byte form (15 name bytes padded with spaces and the
// suffix byte that says which service the name stands for), their
// first-level encoding on the wire, and their text.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Suffix bytes the client asks for or reads in a node status.
enum : uint8_t {
    kNbWorkstation = 0x00,     // a computer's name; a group <00> is its workgroup
    kNbMasterBrowsers = 0x01,  // the group name of every local master browser
    kNbDomainMaster = 0x1B,    // a workgroup's domain master browser
    kNbLocalMaster = 0x1D,     // a workgroup's local master browser
    kNbFileServer = 0x20,      // the file server service
};

inline constexpr size_t kNbNameLen = 15;

struct NbName {
    std::array<uint8_t, 16> bytes{};

    uint8_t suffix() const { return bytes[15]; }
    bool operator==(const NbName &) const = default;
};

// The NetBIOS name for text (at most 15 bytes of printable ASCII without
// \ / : * ? " < > | + = ; , or a space), upper-cased and padded with spaces,
// with the suffix. False for text that cannot be one.
bool nb_name_make(std::string_view text, uint8_t suffix, NbName *out);
// "*" padded with NULs, suffix 0: the name a node status asks for.
NbName nb_name_wildcard();
// "\1\2__MSBROWSE__\2" with suffix 1: the group of the local master browsers.
NbName nb_name_msbrowse();

// The first-level encoding (RFC 1001 14.1): each byte becomes two letters,
// 'A' plus its high and its low half.
std::array<uint8_t, 32> nb_encode_first_level(const NbName &name);
// The reverse; false when a byte is not one of 'A' to 'P'.
bool nb_decode_first_level(std::span<const uint8_t, 32> encoded, NbName *out);

// The 15 name bytes as text without the padding, for output: printable
// ASCII as it is, any other byte as '?'.
std::string nb_name_text(const NbName &name);
// A counted 8-bit (OEM) text from a peer as printable text in the same way,
// up to its first NUL.
std::string nb_oem_text(std::span<const uint8_t> bytes);
