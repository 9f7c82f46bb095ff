// The 8-bit character set ("OEM code page") in which a server without
// Unicode writes names: which one, and UTF-8 to and from it. Pure
// functions; failures are reported by the result only.
#pragma once

#include <cstddef>
#include <cstdint>

enum class CodePage : int32_t {
    cp850 = 0,  // DOS Western Europe; what Samba and most NAS firmwares use
    cp437,      // DOS United States
    cp858,      // CP850 with the euro sign
    cp1252,     // Windows Western Europe
    latin1,     // ISO-8859-1
    latin9,     // ISO-8859-15
};

inline constexpr CodePage kDefaultCodePage = CodePage::cp850;

// The page a setting names, ignoring case: "CP850" (also "850", "IBM850"),
// "CP437", "CP858", "CP1252" ("WINDOWS-1252"), "ISO-8859-1" ("LATIN1"),
// "ISO-8859-15" ("LATIN9"). false for any other name.
bool vnb_code_page_by_name(const char *name, CodePage *out);
// Its name as reported ("CP850").
const char *vnb_code_page_name(CodePage cp);

// NUL-terminated UTF-8 -> bytes of the page, without terminator. 0, or -1
// for a character the page lacks, malformed UTF-8 or no room.
int vnb_utf8_to_oem(CodePage cp, const char *in, uint8_t *out, size_t cap, size_t *out_len);
// The same with the Latin letters in upper case where the page has the
// upper-case letter (the form of a LAN Manager password).
int vnb_utf8_to_oem_upper(CodePage cp, const char *in, uint8_t *out, size_t cap, size_t *out_len);
// Bytes of the page -> NUL-terminated UTF-8. 0, or -1 for a NUL byte among
// them or no room.
int vnb_oem_to_utf8(CodePage cp, const uint8_t *in, size_t len, char *out, size_t cap);

// A text in an SMB session's string form, without terminator: UTF-16LE when
// unicode, else the code page. 0 or -1, as above.
int vnb_utf8_to_wire(const char *in, bool unicode, CodePage cp, uint8_t *out, size_t cap, size_t *out_len);
