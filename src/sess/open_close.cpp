// NT_CREATE_ANDX (open an existing file, folder or pipe for reading) and
// CLOSE.
#include <cstdint>
#include <cstdio>

#include "sess/trace.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/codepage.h"
#include "util/text.h"
#include "util/smb1_wire.h"

namespace {

constexpr uint32_t kMinCreateWords = 34;

constexpr uint32_t kDesiredAccess = 0x00000089;  // read data, read EA, read attributes
constexpr uint32_t kShareAll = 7;                // read, write, delete
constexpr uint32_t kOpenExisting = 1;            // FILE_OPEN
constexpr uint32_t kDirectoryFile = 1;           // FILE_DIRECTORY_FILE
// A file open must not land on a folder: servers open a folder for
// CreateOptions 0, and reads of it then fail late and oddly.
constexpr uint32_t kNonDirectoryFile = 0x40;     // FILE_NON_DIRECTORY_FILE
constexpr uint32_t kImpersonation = 2;
constexpr uint8_t kSecurityFlags = 3;

// Reply offsets, counted from the start of the message.
constexpr size_t kOffFid = 38;
constexpr size_t kOffLastWriteTime = 60;
constexpr size_t kOffEndOfFile = 88;


void trace_create_reply(std::span<const uint8_t> reply, uint32_t wc)
{
    if (!sess_trace_on())
        return;
    std::fprintf(stderr, "[cr] wc=%u hdr:", wc);
    for (size_t i = 28; i < 48 && i < reply.size(); i++)
        std::fprintf(stderr, " %02x", reply[i]);
    std::fprintf(stderr, " |");
    for (size_t i = 33; i < 100 && i < reply.size(); i++)
        std::fprintf(stderr, " %02x", reply[i]);
    std::fputc('\n', stderr);
}

}  // namespace

int vnb_wire_path(const char *path, bool unicode, CodePage cp, uint8_t (&name)[kWireNameCap], size_t *n)
{
    *n = 0;
    if (!path || !*path)
        return 0;
    if (vnb_utf8_to_wire(path, unicode, cp, name, sizeof name, n) != 0)
        return -1;
    size_t unit = unicode ? 2 : 1;
    for (size_t i = 0; i + unit <= *n; i += unit)
        if (name[i] == '/' && (!unicode || name[i + 1] == 0))
            name[i] = '\\';
    return 0;
}

int32_t create_request(Session &s, const char *path, int is_folder, const char *label, ByteBuffer *words,
                       ByteBuffer *bytes)
{
    bool unicode = vnb_sess_unicode(s) != 0;
    uint8_t name[kWireNameCap];
    size_t name_len = 0;
    if (vnb_wire_path(path, unicode, s.code_page, name, &name_len) != 0)
        return unicode ? vnb_fail(-11, "out of memory")
                       : vnb_fail(-8, "%s %.200s: the name cannot be written in code page %s (the server has no "
                                      "Unicode)",
                                  label, path, vnb_code_page_name(s.code_page));

    vnb_buf_byte(words, 0xFF);  // AndXCommand: none
    vnb_buf_byte(words, 0);
    vnb_w16(words, 0);
    vnb_buf_byte(words, 0);     // Reserved
    size_t terminator = unicode ? 2 : 1;
    vnb_w16(words, name_len ? static_cast<uint32_t>(name_len + terminator) : 0);  // NameLength
    vnb_w32(words, 0);          // Flags
    vnb_w32(words, 0);          // RootDirectoryFID
    vnb_w32(words, kDesiredAccess);
    vnb_w64(words, 0);          // AllocationSize
    vnb_w32(words, 0);          // ExtFileAttributes
    vnb_w32(words, kShareAll);
    vnb_w32(words, kOpenExisting);
    vnb_w32(words, is_folder ? kDirectoryFile : kNonDirectoryFile);
    vnb_w32(words, kImpersonation);
    vnb_buf_byte(words, kSecurityFlags);

    // A pad byte puts a UTF-16 name on an even offset of the message (a
    // chain starts each request on a 4-byte boundary, which keeps it so).
    if (unicode)
        vnb_buf_byte(bytes, 0);
    vnb_buf_put(bytes, name, name_len);
    if (unicode)
        vnb_w16(bytes, 0);
    else
        vnb_buf_byte(bytes, 0);
    if (words->failed || bytes->failed)
        return vnb_fail(-11, "out of memory");
    return 0;
}

int32_t vnb_create_file(Session &s, uint32_t tid, const char *path, int is_folder, uint32_t *fid, uint64_t *size,
                        int64_t *mtime_ms, const char *label)
{
    if (!label)
        label = "NT_CREATE";
    ByteBuffer words{};
    ByteBuffer bytes{};
    SmbRequest req;
    int32_t rc = create_request(s, path, is_folder, label, &words, &bytes);
    if (rc == 0)
        rc = exchange(s, smb::NT_CREATE_ANDX, buf_span(words), buf_span(bytes), tid, true, req);
    vnb_buf_free(&words);
    vnb_buf_free(&bytes);
    if (rc != 0) {
        remember_status(s, &req.header);
        return rc;
    }
    if (req.header.status != 0)
        return fail_status(s, req.header, label);
    return create_reply_read(req.message(), fid, size, mtime_ms);
}

int32_t create_reply_read(std::span<const uint8_t> reply, uint32_t *fid, uint64_t *size, int64_t *mtime_ms,
                          size_t at)
{
    LeReader r(reply);
    uint32_t wc = r.u8_at(at);
    if (wc < kMinCreateWords)
        return vnb_fail(-2, "NT_CREATE reply WordCount %u (34 expected)", wc);
    if (!r.at(at + 1, 2 * size_t{wc}))
        return vnb_fail(-2, "NT_CREATE reply words lie outside the frame");
    trace_create_reply(reply, wc);
    // The offsets below count from a reply of its own.
    const size_t shift = at - smb::kHeaderLen;

    // Sizes travel to hosts as signed 64-bit figures, where a negative one
    // reads as an error code.
    const uint64_t eof = r.u64_at(shift + kOffEndOfFile);
    if (eof > static_cast<uint64_t>(INT64_MAX))
        return vnb_fail(-2, "NT_CREATE reply gives a size of %llu bytes", static_cast<unsigned long long>(eof));
    if (fid)
        *fid = r.u16_at(shift + kOffFid);
    if (size)
        *size = eof;
    if (mtime_ms)
        *mtime_ms = smb::unix_ms_from_filetime(r.u64_at(shift + kOffLastWriteTime));
    return 0;
}

int32_t vnb_do_close(Session &s, uint32_t tid, uint32_t fid)
{
    // FID, then LastTimeModified 0xFFFFFFFF: leave the time as it is.
    const uint8_t words[6] = {static_cast<uint8_t>(fid), static_cast<uint8_t>(fid >> 8), 0xFF, 0xFF, 0xFF, 0xFF};
    return cmd_ok(s, smb::CLOSE, words, tid, "CLOSE");
}

int32_t vnb_post_close(Session &s, uint32_t tid, uint32_t fid)
{
    const uint8_t words[6] = {static_cast<uint8_t>(fid), static_cast<uint8_t>(fid >> 8), 0xFF, 0xFF, 0xFF, 0xFF};
    return req_post(s, smb::CLOSE, words, tid);
}
