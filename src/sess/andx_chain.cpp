#include "sess/andx_chain.h"

#include "crypto/crypto.h"
#include "sess/smb_header.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/smb1_wire.h"

namespace {

constexpr uint8_t kNoAndx = 0xFF;
constexpr size_t kAndxBlock = 4;     // AndXCommand, AndXReserved, AndXOffset
constexpr size_t kLinkAlign = 4;
// Commands whose words start with the AndX block.
bool is_andx(uint32_t command)
{
    switch (command) {
    case smb::SESSION_SETUP_ANDX:
    case smb::TREE_CONNECT_ANDX:
    case smb::NT_CREATE_ANDX:
    case smb::READ_ANDX:
    case smb::LOGOFF_ANDX:
        return true;
    default:
        return false;
    }
}

bool part_ok(const ChainPart &p)
{
    return p.words.size() >= kAndxBlock && p.words.size() % 2 == 0 && p.words.size() / 2 <= 0xFF &&
           p.bytes.size() <= 0xFFFF;
}

// WordCount, the words (AndX block patched), ByteCount and the bytes.
void put_part(ByteBuffer *msg, const ChainPart &p, uint32_t next_command, size_t next_at)
{
    vnb_buf_byte(msg, static_cast<int>(p.words.size() / 2));
    vnb_buf_byte(msg, static_cast<int>(next_command));
    vnb_buf_byte(msg, 0);
    vnb_w16(msg, static_cast<uint32_t>(next_at));
    vnb_buf_put(msg, p.words.data() + kAndxBlock, p.words.size() - kAndxBlock);
    vnb_w16(msg, static_cast<uint32_t>(p.bytes.size()));
    vnb_buf_put(msg, p.bytes.data(), p.bytes.size());
}

}  // namespace

bool chain_fits(const Session &s, size_t len)
{
    // Below the least buffer any server announces, the client's own
    // figure; an unknown figure takes no chances.
    return s.max_buffer != 0 && len <= s.max_buffer;
}

int32_t chain_build(const Session &s, const ChainPart &first, const ChainPart &second, uint32_t tid,
                    ByteBuffer *msg)
{
    if (!part_ok(first) || !part_ok(second))
        return vnb_fail(-7, "a chained request does not fit its fields");
    const size_t first_end = smb::kHeaderLen + 1 + first.words.size() + 2 + first.bytes.size();
    const size_t second_at = (first_end + kLinkAlign - 1) / kLinkAlign * kLinkAlign;
    if (second_at > 0xFFFF)
        return vnb_fail(-7, "a chained request does not fit its fields");
    vnb_hdr_build(msg, s.flags2, first.command, tid, s.uid, 0, 0);
    msg->len = smb::kHeaderLen;  // WordCount comes with the part
    put_part(msg, first, second.command, second_at);
    while (!msg->failed && msg->len < second_at)
        vnb_buf_byte(msg, 0);
    put_part(msg, second, kNoAndx, 0);
    return msg->failed ? vnb_fail(-11, "out of memory") : 0;
}

int32_t chain_exchange(Session &s, const ChainPart &first, const ChainPart &second, uint32_t tid, bool sign,
                       SmbRequest &req)
{
    ByteBuffer msg{};
    int32_t rc = chain_build(s, first, second, tid, &msg);
    if (rc == 0)
        rc = req_send_built(s, msg, sign, req);
    vnb_wipe(msg.data, msg.len);
    vnb_buf_free(&msg);
    if (rc == 0)
        rc = req_await(s, req);
    return rc;
}

int32_t andx_links(std::span<const uint8_t> msg, AndxLink (&links)[kMaxAndxLinks])
{
    LeReader r(msg);
    if (msg.size() < smb::kHeaderLen)
        return vnb_fail(-2, "the reply is not an SMB1 header (%u bytes)", static_cast<unsigned>(msg.size()));
    uint32_t command = r.u8_at(smb::kOffCommand);
    size_t at = smb::kHeaderLen;
    for (size_t n = 0; n < kMaxAndxLinks; n++) {
        AndxLink &link = links[n];
        link = AndxLink{};
        link.command = command;
        link.at = at;
        const uint8_t *wc = r.peek(at, 1);
        if (!wc)
            return vnb_fail(-2, "chained reply: link %zu starts outside the message", n + 1);
        link.word_count = *wc;
        const size_t count_at = at + 1 + 2 * size_t{link.word_count};
        const uint8_t *bc = r.peek(count_at, 2);
        if (!bc)
            return vnb_fail(-2, "chained reply: the words of link %zu run past the message", n + 1);
        link.bytes_at = count_at + 2;
        link.byte_count = vnb_r16(bc);
        if (!r.peek(link.bytes_at, link.byte_count))
            return vnb_fail(-2, "chained reply: the bytes of link %zu run past the message", n + 1);
        if (!is_andx(command) || link.word_count * 2 < kAndxBlock)
            return static_cast<int32_t>(n + 1);
        const uint32_t next = r.u8_at(at + 1);
        if (next == kNoAndx)
            return static_cast<int32_t>(n + 1);
        const size_t next_at = r.u16_at(at + 3);
        if (next_at < link.bytes_at + link.byte_count)
            return vnb_fail(-2, "chained reply: link %zu points back into the message (%zu)", n + 2, next_at);
        if (next_at >= msg.size())
            return vnb_fail(-2, "chained reply: link %zu lies past the message (%zu of %zu bytes)", n + 2, next_at,
                            msg.size());
        command = next;
        at = next_at;
    }
    return vnb_fail(-2, "chained reply: more than %zu links", kMaxAndxLinks);
}
