// The srvsvc PDUs: bind and NetShareEnumAll request out, response fragments
// and the NDR of a level-1 share list in. Every count and offset in a reply
// is checked against the bytes that are there.
#include <cstring>

#include "sess/share_list.h"
#include "util/le_reader.h"
#include "util/text.h"

const uint8_t srvsvc_uuid[16] = {0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01,
                                 0x12, 0x78, 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88};
const uint8_t ndr_syntax[16] = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                                0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60};

namespace {

enum : uint8_t { kPtypeRequest = 0, kPtypeResponse = 2, kPtypeBind = 11 };
enum : uint8_t { kFirstFrag = 0x01, kLastFrag = 0x02 };
constexpr uint8_t kDrepLittleEndian = 0x10;

constexpr size_t kCommonHeader = 16;
constexpr size_t kResponseHeader = 24;  // common header, alloc_hint, context id, cancel count
constexpr size_t kOffFragLength = 8;

constexpr uint16_t kMaxFrag = 3344;
constexpr uint16_t kOpNetShareEnumAll = 15;
constexpr uint32_t kUniqueReferent = 0x00020000;
constexpr size_t kEntrySize = 12;  // netname referent, type, remark referent
constexpr uint32_t kMaxNdrUnits = 65535;

// Share names an administrator uses, never offered to the caller. Other
// names ending in $ stay.
constexpr const char *kAdminShares[] = {"IPC$", "ADMIN$", "C$", "print$"};

void pdu_header(ByteBuffer *b, uint8_t ptype, uint32_t call_id)
{
    d_u8(b, 5);  // rpc_vers
    d_u8(b, 0);  // rpc_vers_minor
    d_u8(b, ptype);
    d_u8(b, kFirstFrag | kLastFrag);
    d_u32(b, kDrepLittleEndian);  // little-endian, ASCII, IEEE
    d_u16(b, 0);                  // frag_length, patched
    d_u16(b, 0);                  // auth_length
    d_u32(b, call_id);
}

void patch_frag_length(ByteBuffer *b)
{
    if (b->failed || b->len < kCommonHeader)
        return;
    b->data[kOffFragLength] = static_cast<uint8_t>(b->len);
    b->data[kOffFragLength + 1] = static_cast<uint8_t>(b->len >> 8);
}

}  // namespace

bool vnb_is_admin_share(const char *name)
{
    for (const char *admin : kAdminShares)
        if (std::strcmp(name, admin) == 0)
            return true;
    return false;
}

void d_u8(ByteBuffer *b, uint32_t v)
{
    vnb_buf_byte(b, static_cast<int>(v & 0xFF));
}

void d_u16(ByteBuffer *b, uint32_t v)
{
    vnb_w16(b, v);
}

void d_u32(ByteBuffer *b, uint32_t v)
{
    vnb_w32(b, v);
}

void srvsvc_build_bind(ByteBuffer *b, uint32_t call_id)
{
    pdu_header(b, kPtypeBind, call_id);
    d_u16(b, kMaxFrag);  // max_xmit_frag
    d_u16(b, kMaxFrag);  // max_recv_frag
    d_u32(b, 0);         // assoc_group_id
    d_u8(b, 1);          // one presentation context
    d_u8(b, 0);
    d_u16(b, 0);
    d_u16(b, 0);         // context id
    d_u8(b, 1);          // one transfer syntax
    d_u8(b, 0);
    vnb_buf_put(b, srvsvc_uuid, sizeof srvsvc_uuid);
    d_u16(b, 3);         // interface version 3.0
    d_u16(b, 0);
    vnb_buf_put(b, ndr_syntax, sizeof ndr_syntax);
    d_u32(b, 2);
    patch_frag_length(b);
}

void srvsvc_build_request(ByteBuffer *b, uint32_t call_id)
{
    pdu_header(b, kPtypeRequest, call_id);
    d_u32(b, 0x00200000);  // alloc_hint
    d_u16(b, 0);           // context id
    d_u16(b, kOpNetShareEnumAll);
    // ServerName: a unique pointer to the empty string.
    d_u32(b, kUniqueReferent);
    d_u32(b, 1);           // maximum count
    d_u32(b, 0);           // offset
    d_u32(b, 1);           // actual count
    d_u16(b, 0);           // the NUL
    d_u16(b, 0);           // alignment
    d_u32(b, 1);           // information level
    d_u32(b, 1);           // union switch
    d_u32(b, kUniqueReferent);  // container
    d_u32(b, 0);           // EntriesRead
    d_u32(b, 0);           // Buffer: NULL
    d_u32(b, 0xFFFFFFFF);  // PreferedMaximumLength
    d_u32(b, 0);           // ResumeHandle: NULL
    patch_frag_length(b);
}

int srvsvc_join_fragments(const uint8_t *answer, size_t len, uint32_t call_id, ByteBuffer *pdu)
{
    LeReader r(answer, len);
    size_t pos = 0;
    for (bool first = true;; first = false) {
        if (r.size() - pos < kResponseHeader)
            return 0;
        const uint8_t *h = r.at(pos, kResponseHeader);
        uint32_t frag_length = vnb_r16(h + kOffFragLength);
        uint32_t auth_length = vnb_r16(h + 10);
        if (h[0] != 5 || h[1] != 0 || h[2] != kPtypeResponse || h[4] != kDrepLittleEndian ||
            frag_length < kResponseHeader || auth_length != 0 || vnb_r32(h + 12) != call_id)
            return -1;
        if (r.size() - pos < frag_length)
            return 0;
        if (pdu) {
            if (first)
                vnb_buf_put(pdu, h, kResponseHeader);
            vnb_buf_put(pdu, h + kResponseHeader, frag_length - kResponseHeader);
        }
        pos += frag_length;
        if (h[3] & kLastFrag)
            return pdu && pdu->failed ? -11 : 1;
    }
}

bool ndr_str(const uint8_t *bytes, size_t len, size_t *pos, char *out, size_t cap)
{
    LeReader r(bytes, len);
    r.seek(*pos);
    uint32_t max_count = r.u32();
    uint32_t offset = r.u32();
    uint32_t actual = r.u32();
    if (r.failed || actual > kMaxNdrUnits || offset != 0 || actual > max_count)
        return false;
    const uint8_t *units = r.take(2 * size_t{actual});
    if (!units)
        return false;
    if (out) {
        // The last unit is the terminating NUL.
        size_t text_bytes = actual ? 2 * (size_t{actual} - 1) : 0;
        if (cap == 0 || vnb_utf16_to_utf8(units, text_bytes, out, static_cast<int32_t>(cap)) < 0)
            return false;
    }
    *pos = r.pos + (actual % 2 ? 2 : 0);
    return true;
}

int srvsvc_parse_enum(Session &s, const uint8_t *bytes, size_t len)
{
    LeReader r(bytes, len);
    uint32_t level = r.u32_at(24);
    uint32_t union_switch = r.u32_at(28);
    uint32_t count = r.u32_at(36);
    uint32_t buffer = r.u32_at(40);
    if (r.failed || level != 1 || union_switch != 1)
        return -1;

    size_t p = 44;
    int32_t kept = 0;
    if (buffer != 0) {
        // A conformant array: its maximum count is the number of entries.
        uint32_t max_count = r.u32_at(44);
        if (r.failed || max_count != count)
            return -1;
        p = 48;
        if (count > (len - p) / kEntrySize)
            return -1;
        for (uint32_t k = 0; k < count; k++) {
            size_t entry = p + kEntrySize * k;
            if (r.u32_at(entry) == 0 || r.u32_at(entry + 8) == 0)
                return -1;
        }
        p += kEntrySize * size_t{count};
        // Names go straight into the table's slots; the count that makes
        // them visible is set once every string has decoded.
        for (uint32_t k = 0; k < count; k++) {
            char name[81];
            if (!ndr_str(bytes, len, &p, name, sizeof name) || !ndr_str(bytes, len, &p, nullptr, 0))
                return -1;
            if (vnb_is_admin_share(name))
                continue;
            if (kept >= kMaxShares) {
                s.share_count = 0;
                return vnb_fail(-7, "the server lists more than %d shares, the most the library holds", kMaxShares);
            }
            std::memcpy(s.share_names[kept], name, std::strlen(name) + 1);
            kept++;
        }
    }
    s.share_count = kept;

    // TotalEntries, the ResumeHandle pointer (and its value when not NULL),
    // then the WERROR status.
    r.seek(p);
    r.skip(4);
    if (r.u32() != 0)
        r.skip(4);
    uint32_t status = r.u32();
    return !r.failed && status == 0 ? 0 : -1;
}
