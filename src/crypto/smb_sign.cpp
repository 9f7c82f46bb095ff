#include "crypto/smb_sign.h"

#include <cstdlib>
#include <cstring>

#include "crypto/crypto.h"

namespace {

constexpr size_t kHeaderLen = 32;
constexpr size_t kFlags2Offset = 10;

// MD5 over key || msg, with the signature field of the copied message holding
// seq. 0, or -1 when the scratch copy cannot be allocated.
int signature_of(const uint8_t *key, size_t key_len, uint32_t seq, const uint8_t *msg, size_t len,
                 bool set_flag, uint8_t digest[16])
{
    if (key_len > SIZE_MAX - len)
        return -1;
    size_t total = key_len + len;
    auto *scratch = static_cast<uint8_t *>(std::malloc(total));
    if (!scratch)
        return -1;
    if (key_len)
        std::memcpy(scratch, key, key_len);
    std::memcpy(scratch + key_len, msg, len);
    uint8_t *m = scratch + key_len;
    if (set_flag)
        m[kFlags2Offset] |= kFlags2SecuritySignature;
    uint8_t *field = m + kSmbSignatureOffset;
    field[0] = static_cast<uint8_t>(seq);
    field[1] = static_cast<uint8_t>(seq >> 8);
    field[2] = static_cast<uint8_t>(seq >> 16);
    field[3] = static_cast<uint8_t>(seq >> 24);
    std::memset(field + 4, 0, 4);
    vnb_md5(scratch, total, digest);
    vnb_wipe(scratch, key_len);
    std::free(scratch);
    return 0;
}

}  // namespace

void vnb_sign_frame(const uint8_t *mac_key, size_t key_len, uint32_t seq, uint8_t *msg, size_t len)
{
    if (!msg || len < kHeaderLen || (key_len && !mac_key))
        return;
    uint8_t digest[16];
    if (signature_of(mac_key, key_len, seq, msg, len, true, digest) != 0)
        return;
    msg[kFlags2Offset] |= kFlags2SecuritySignature;
    std::memcpy(msg + kSmbSignatureOffset, digest, 8);
    vnb_wipe(digest, sizeof digest);
}

int vnb_sign_verify(const uint8_t *mac_key, size_t key_len, uint32_t seq, const uint8_t *msg, size_t len)
{
    if (!msg || len < kHeaderLen || (key_len && !mac_key))
        return 0;
    uint8_t digest[16];
    if (signature_of(mac_key, key_len, seq, msg, len, false, digest) != 0)
        return -1;
    int same = vnb_ct_equal(digest, msg + kSmbSignatureOffset, 8);
    vnb_wipe(digest, sizeof digest);
    return same;
}
