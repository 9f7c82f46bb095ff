#include "ntlm/spnego.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "ntlm/ntlm.h"

namespace {

constexpr uint8_t kSpnegoOid[] = {0x06, 0x06, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x02};  // 1.3.6.1.5.5.2
constexpr uint8_t kNtlmOidValue[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0A};
constexpr uint8_t kNtlmOid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04,
                                0x01, 0x82, 0x37, 0x02, 0x02, 0x0A};  // 1.3.6.1.4.1.311.2.2.10
constexpr uint8_t kAcceptIncomplete[] = {0xA0, 0x03, 0x0A, 0x01, 0x01};  // [0] ENUMERATED 1

constexpr size_t kMaxDerLen = 0xFFFF;  // the widest length written is 0x82 and two bytes
constexpr unsigned kMaxLenBytes = 4;   // the widest long form read

// Size of a whole element (tag, length, contents) with n content bytes.
constexpr size_t element(size_t n)
{
    return 1 + (n < 0x80 ? 1 : n < 0x100 ? 2 : 3) + n;
}

void der_len(ByteBuffer *b, size_t n)
{
    if (n < 0x80) {
        vnb_buf_byte(b, int(n));
    } else if (n < 0x100) {
        vnb_buf_byte(b, 0x81);
        vnb_buf_byte(b, int(n));
    } else {
        vnb_buf_byte(b, 0x82);
        vnb_w16be(b, uint32_t(n));
    }
}

void tag_len(ByteBuffer *b, int tag, size_t n)
{
    vnb_buf_byte(b, tag);
    der_len(b, n);
}

// The outermost contents must fit the two-byte length form; inner ones are smaller.
bool check_size(const uint8_t *msg, size_t len, ByteBuffer *b, size_t outer)
{
    if (!b)
        return false;
    if ((!msg && len) || len > kMaxDerLen || outer > kMaxDerLen) {
        b->failed = 1;
        return false;
    }
    return true;
}

// [2] responseToken / mechToken holding an OCTET STRING with the message.
void put_token(ByteBuffer *b, const uint8_t *msg, size_t len)
{
    tag_len(b, 0xA2, element(len));
    tag_len(b, 0x04, len);
    vnb_buf_put(b, msg, len);
}

// A DER length at pos, which must lie before limit: short form, or 0x80 + k
// with k <= 4 big-endian bytes. `empty_long` tells the form 0x80 (k = 0).
bool read_len(const uint8_t *p, size_t limit, size_t &pos, uint64_t &value, bool &empty_long)
{
    if (pos >= limit)
        return false;
    const uint8_t first = p[pos++];
    empty_long = first == 0x80;
    if (first < 0x80) {
        value = first;
        return true;
    }
    const unsigned k = first & 0x7Fu;
    if (k > kMaxLenBytes || limit - pos < k)
        return false;
    value = 0;
    for (unsigned i = 0; i < k; i++)
        value = value << 8 | p[pos++];
    return true;
}

bool is_ntlmssp(const uint8_t *p, size_t len)
{
    return len >= sizeof NTLMSSP_SIGNATURE && std::memcmp(p, NTLMSSP_SIGNATURE, sizeof NTLMSSP_SIGNATURE) == 0;
}

}  // namespace

int vnb_spnego_wrap_type1(const uint8_t *msg, size_t len, ByteBuffer *b)
{
    const size_t token = element(element(len));     // [2] { OCTET STRING }
    const size_t seq = 4 + sizeof kNtlmOid + token;  // mechTypes, mechToken
    const size_t init = element(element(seq));      // [0] { SEQUENCE }
    const size_t app = sizeof kSpnegoOid + init;
    if (!check_size(msg, len, b, app))
        return b ? 0 : -1;
    tag_len(b, 0x60, app);
    vnb_buf_put(b, kSpnegoOid, sizeof kSpnegoOid);
    tag_len(b, 0xA0, element(seq));
    tag_len(b, 0x30, seq);
    const uint8_t mech_types[] = {0xA0, 0x0E, 0x30, 0x0C};
    vnb_buf_put(b, mech_types, sizeof mech_types);
    vnb_buf_put(b, kNtlmOid, sizeof kNtlmOid);
    put_token(b, msg, len);
    return 0;
}

int vnb_spnego_wrap_type3(const uint8_t *msg, size_t len, ByteBuffer *b)
{
    const size_t seq = element(element(len));
    const size_t resp = element(seq);
    if (!check_size(msg, len, b, resp))
        return b ? 0 : -1;
    tag_len(b, 0xA1, resp);
    tag_len(b, 0x30, seq);
    put_token(b, msg, len);
    return 0;
}

int vnb_spnego_resp_fake(const uint8_t *msg, size_t len, ByteBuffer *b)
{
    const size_t seq = sizeof kAcceptIncomplete + element(sizeof kNtlmOid) + element(element(len));
    const size_t resp = element(seq);
    if (!check_size(msg, len, b, resp))
        return b ? 0 : -1;
    tag_len(b, 0xA1, resp);
    tag_len(b, 0x30, seq);
    vnb_buf_put(b, kAcceptIncomplete, sizeof kAcceptIncomplete);
    tag_len(b, 0xA1, sizeof kNtlmOid);  // supportedMech
    vnb_buf_put(b, kNtlmOid, sizeof kNtlmOid);
    put_token(b, msg, len);
    return 0;
}

int vnb_spnego_unwrap_resp(const uint8_t *blob, size_t len, const uint8_t **token, size_t *token_len, int *raw)
{
    if (!token || !token_len || !raw)
        return -1;
    *token = nullptr;
    *token_len = 0;
    *raw = 0;
    if (!blob || len < 8)
        return -1;
    if (is_ntlmssp(blob, len)) {
        *token = blob;
        *token_len = len;
        *raw = 1;
        return 0;
    }
    if (blob[0] != 0xA1)
        return -1;

    size_t pos = 1;
    uint64_t n = 0;
    bool empty_long = false;
    if (!read_len(blob, len, pos, n, empty_long))
        return -1;
    if (!empty_long && n > len - pos)
        return -1;

    if (pos >= len || blob[pos] != 0x30)
        return -1;
    pos++;
    if (!read_len(blob, len, pos, n, empty_long))
        return -1;
    if (empty_long)
        n = 0;
    if (n > len - pos || n < 2)
        return -1;
    const size_t seq_end = pos + size_t(n);

    const uint8_t *found = nullptr;
    size_t found_len = 0;
    while (seq_end - pos >= 2) {
        const uint8_t tag = blob[pos];
        size_t body = pos + 1;
        uint64_t body_len = 0;
        if (!read_len(blob, seq_end, body, body_len, empty_long))
            return -1;
        if (tag == 0xA2 && body_len > 1 && body < seq_end && blob[body] == 0x04) {
            // responseToken: [2] { OCTET STRING }
            const size_t body_end = body_len < seq_end - body ? body + size_t(body_len) : seq_end;
            size_t octets = body + 1;
            uint64_t octets_len = 0;
            if (!read_len(blob, body_end, octets, octets_len, empty_long))
                return -1;
            if (octets_len > seq_end - octets)
                return -1;
            found = blob + octets;
            found_len = size_t(octets_len);
            pos = octets + found_len;
            continue;
        }
        if (body_len > seq_end - body)
            break;  // runs past the SEQUENCE: nothing further to walk
        pos = body + size_t(body_len);  // negState, supportedMech, mechListMIC
    }
    if (!found || !is_ntlmssp(found, found_len))
        return -1;
    *token = found;
    *token_len = found_len;
    return 0;
}

int vnb_negtokeninit_ntlm(const uint8_t *blob, size_t len)
{
    if (!blob || len < 24 || blob[0] != 0x60)
        return 0;
    const uint8_t *end = blob + len;
    return std::search(blob, end, std::begin(kNtlmOidValue), std::end(kNtlmOidValue)) != end ? 1 : 0;
}
