#include "sess/smb_header.h"

#include <cstring>

#include "util/le_reader.h"
#include "util/status.h"

namespace {
constexpr uint8_t kProtocol[4] = {0xFF, 'S', 'M', 'B'};
}  // namespace

void vnb_hdr_build(ByteBuffer *b, uint32_t flags2, uint32_t command, uint32_t tid, uint32_t uid, uint32_t mid,
                   uint32_t word_count)
{
    vnb_buf_put(b, kProtocol, sizeof kProtocol);
    vnb_buf_byte(b, static_cast<int>(command));
    vnb_w32(b, 0);  // Status
    vnb_buf_byte(b, smb::kFlagsRequest);
    vnb_w16(b, flags2 ? flags2 : kFlags2Default);
    vnb_w16(b, 0);  // PIDHigh
    vnb_w64(b, 0);  // SecuritySignature
    vnb_w16(b, 0);  // Reserved
    vnb_w16(b, tid);
    vnb_w16(b, 0);  // PID
    vnb_w16(b, uid);
    vnb_w16(b, mid);
    vnb_buf_byte(b, static_cast<int>(word_count & 0xFF));
}

int vnb_hdr_parse(std::span<const uint8_t> msg, ParsedHeader *out)
{
    if (!out)
        return -1;
    *out = ParsedHeader{};
    LeReader r(msg.data(), msg.size());
    const uint8_t *protocol = r.at(0, smb::kHeaderLen);
    if (!protocol || std::memcmp(protocol, kProtocol, sizeof kProtocol) != 0)
        return -1;
    out->command = r.u8_at(4);
    out->status = r.u32_at(5);
    out->flags = r.u8_at(9);
    out->flags2 = r.u16_at(10);
    out->status_is_nt = (out->flags2 & smb::kFlags2NtStatus) ? 1 : 0;
    std::memcpy(out->signature, r.at(14, sizeof out->signature), sizeof out->signature);
    out->is_signed = (out->flags2 & smb::kFlags2Signature) ? 1 : 0;
    out->tid = r.u16_at(24);
    out->pid = r.u16_at(26);
    out->uid = r.u16_at(28);
    out->mid = r.u16_at(30);
    return 0;
}

bool hdr_status_fails(const ParsedHeader &h)
{
    if (h.status == 0)
        return false;
    // NT severity "error" is the top two bits; a DOS code fails when its
    // row maps to a failure class.
    if (h.status_is_nt)
        return (h.status >> 30) == 3;
    return vnb_status_code(h.status, 0) < 0;
}

const char *smb_command_name(uint32_t command)
{
    switch (command) {
    case smb::CLOSE: return "CLOSE";
    case smb::TRANSACTION: return "TRANSACTION";
    case smb::READ_ANDX: return "READ";
    case smb::TRANSACTION2: return "TRANSACTION2";
    case smb::TREE_DISCONNECT: return "TREE_DISCONNECT";
    case smb::NEGOTIATE: return "NEGOTIATE";
    case smb::SESSION_SETUP_ANDX: return "SESSION_SETUP";
    case smb::LOGOFF_ANDX: return "LOGOFF";
    case smb::TREE_CONNECT_ANDX: return "TREE_CONNECT";
    case smb::NT_CREATE_ANDX: return "NT_CREATE";
    default: return nullptr;
    }
}
