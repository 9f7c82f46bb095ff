#include "sess/path_info.h"

#include <cstdio>
#include <cstring>

#include "sess/dir_list.h"
#include "sess/exchange.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/smb1_wire.h"
#include "util/status.h"

namespace {

constexpr size_t kQueryMinParams = 2;  // EaErrorOffset

// A status that refuses the query rather than answers about the path: the
// server does not do the subcommand or the level.
bool refuses_query(const ParsedHeader &h)
{
    if (hdr_status_means(h, smb::kStatusInvalidLevel) || hdr_status_means(h, smb::kStatusNotImplemented))
        return true;
    return vnb_status_code(h.status, h.status_is_nt) == -8;
}

// A status after which a search may still find the name: the query was
// refused, the server did not take its parameters for this one path, or it
// does not let this user read the attributes.
bool worth_a_search(const ParsedHeader &h)
{
    return refuses_query(h) || hdr_status_means(h, STATUS_INVALID_PARAMETER) ||
           hdr_status_means(h, STATUS_ACCESS_DENIED);
}

}  // namespace

int32_t path_info_read(std::span<const uint8_t> data, PathInfo *out)
{
    *out = PathInfo{};
    if (data.size() < smb::kAllInfoLeast)
        return vnb_fail(-2, "QUERY_PATH_INFORMATION reply carries %zu data bytes (%zu at the least)", data.size(),
                        smb::kAllInfoLeast);
    LeReader r(data);
    const uint64_t write_time = r.u64_at(smb::kAllInfoLastWrite);
    const uint32_t attributes = r.u32_at(smb::kAllInfoAttributes);
    const uint64_t eof = r.u64_at(smb::kAllInfoEndOfFile);
    out->folder = (attributes & smb::kAttrDirectory) != 0;
    out->mtime_ms = smb::unix_ms_from_filetime(write_time);
    if (out->folder)
        return 0;
    // Sizes travel to hosts as signed 64-bit figures, where a negative one
    // reads as an error code.
    if (eof > static_cast<uint64_t>(INT64_MAX)) {
        *out = PathInfo{};
        return vnb_fail(-2, "QUERY_PATH_INFORMATION reply gives a size of %llu bytes",
                        static_cast<unsigned long long>(eof));
    }
    out->size = static_cast<int64_t>(eof);
    return 0;
}

int32_t vnb_query_path_info(Session &s, uint32_t tid, const char *path, PathInfo *out, bool *search)
{
    *out = PathInfo{};
    bool ignored = false;
    if (search == nullptr)
        search = &ignored;
    *search = false;
    if (path == nullptr || path[0] == '\0')
        return vnb_fail(-6, "QUERY_PATH_INFORMATION needs a path below the share");
    if (s.path_info_refused) {
        *search = true;
        return vnb_fail(-8, "the server does not answer QUERY_PATH_INFORMATION");
    }
    const bool unicode = vnb_sess_unicode(s) != 0;
    uint8_t name[kWireNameCap];
    size_t name_len = 0;
    if (vnb_wire_path(path, unicode, s.code_page, name, &name_len) != 0)
        return vnb_fail(-8, "QUERY_PATH_INFORMATION %.200s: the name cannot be written in code page %s (the "
                            "server has no Unicode)",
                        path, vnb_code_page_name(s.code_page));

    // InformationLevel, Reserved, then the name: at an even offset of the
    // 4-byte aligned parameter block, so UTF-16 needs no pad.
    ByteBuffer params{};
    vnb_w16(&params, smb::kQueryFileAllInfo);
    vnb_w32(&params, 0);
    vnb_buf_put(&params, name, name_len);
    if (unicode)
        vnb_w16(&params, 0);
    else
        vnb_buf_byte(&params, 0);
    SmbRequest reply;
    int32_t rc = params.failed ? vnb_fail(-11, "out of memory")
                               : trans2(s, tid, smb::TRANS2_QUERY_PATH_INFORMATION, buf_span(params), 0xFFFF, reply);
    vnb_buf_free(&params);
    if (rc != 0) {
        remember_status(s, &reply.header);
        return rc;
    }
    const ParsedHeader &h = reply.header;
    if (hdr_status_fails(h)) {
        char label[256];
        std::snprintf(label, sizeof label, "QUERY_PATH_INFORMATION %.200s", path);
        rc = fail_status(s, h, label);
        if (refuses_query(h))
            s.path_info_refused = true;
        *search = worth_a_search(h);
        return rc;
    }
    TransReply r;
    if ((rc = vnb_trans_reply_take(s, reply, kQueryMinParams, "QUERY_PATH_INFORMATION", &r)) != 0)
        return rc;
    return path_info_read({r.data, r.data != nullptr ? r.data_count : 0}, out);
}

int32_t vnb_path_entry(Session &s, uint32_t tid, const char *path, DirEntry *out)
{
    const char *slash = std::strrchr(path, '/');
    out->name = slash != nullptr ? slash + 1 : path;
    out->path = path;
    out->hidden = smb::is_hidden_name(out->name);
    PathInfo info;
    bool search = false;
    int32_t rc = vnb_query_path_info(s, tid, path, &info, &search);
    if (rc == 0) {
        out->folder = info.folder;
        out->size = info.size;
        out->mtime_ms = info.mtime_ms;
        return 0;
    }
    if (!search)
        return rc;
    return vnb_find_entry(s, tid, path, out);
}
