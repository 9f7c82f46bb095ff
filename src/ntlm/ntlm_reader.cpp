#include <cstdio>
#include <cstdlib>

#include "ntlm/ntlm_internal.h"

bool rd_u16(NtlmReader &r, uint32_t *v)
{
    if (r.pos > r.len || r.len - r.pos < 2)
        return false;
    *v = ntlm_le16(r.msg + r.pos);
    r.pos += 2;
    return true;
}

bool rd_u32(NtlmReader &r, uint32_t *v)
{
    if (r.pos > r.len || r.len - r.pos < 4)
        return false;
    *v = ntlm_le32(r.msg + r.pos);
    r.pos += 4;
    return true;
}

NtlmField field(NtlmReader &r)
{
    uint32_t len = 0;
    uint32_t max_len = 0;
    uint32_t offset = 0;
    if (!rd_u16(r, &len) || !rd_u16(r, &max_len) || !rd_u32(r, &offset))
        return {nullptr, 0};
    if (offset == 0)
        return {nullptr, len};
    if (offset > r.len || r.len - offset < len) {
        if (std::getenv("VNSMB1C_TRACE"))
            std::fprintf(stderr, "[t3field] off=%u ln=%u msglen=%zu hi=%u\n", offset, len, r.len, max_len);
        return {nullptr, len};
    }
    return {r.msg + offset, len};
}
