#include "crypto/smb_sign.h"

#include <cstring>

#include "crypto/crypto.h"

namespace {

constexpr size_t kHeaderLen = 32;
constexpr size_t kFlags2Offset = 10;
constexpr size_t kSignatureLen = 8;

// MD5 over key || msg, with the signature field holding seq (and Flags2 bit
// 0x0004 set when set_flag) while it is hashed. The message is fed in place,
// only the bytes up to the signature field go through a small copy.
void signature_of(const uint8_t *key, size_t key_len, uint32_t seq, const uint8_t *msg, size_t len, bool set_flag,
                  uint8_t digest[16])
{
    uint8_t head[kSmbSignatureOffset + kSignatureLen];
    std::memcpy(head, msg, kSmbSignatureOffset);
    if (set_flag)
        head[kFlags2Offset] |= kFlags2SecuritySignature;
    uint8_t *field = head + kSmbSignatureOffset;
    field[0] = static_cast<uint8_t>(seq);
    field[1] = static_cast<uint8_t>(seq >> 8);
    field[2] = static_cast<uint8_t>(seq >> 16);
    field[3] = static_cast<uint8_t>(seq >> 24);
    std::memset(field + 4, 0, 4);

    Md5Ctx md5;
    vnb_md5_init(&md5);
    vnb_md5_update(&md5, key, key_len);
    vnb_md5_update(&md5, head, sizeof head);
    vnb_md5_update(&md5, msg + sizeof head, len - sizeof head);
    vnb_md5_final(&md5, digest);
    vnb_wipe(&md5, sizeof md5);
}

}  // namespace

void vnb_sign_frame(const uint8_t *mac_key, size_t key_len, uint32_t seq, uint8_t *msg, size_t len)
{
    if (!msg || len < kHeaderLen || (key_len && !mac_key))
        return;
    uint8_t digest[16];
    signature_of(mac_key, key_len, seq, msg, len, true, digest);
    msg[kFlags2Offset] |= kFlags2SecuritySignature;
    std::memcpy(msg + kSmbSignatureOffset, digest, 8);
    vnb_wipe(digest, sizeof digest);
}

int vnb_sign_verify(const uint8_t *mac_key, size_t key_len, uint32_t seq, const uint8_t *msg, size_t len)
{
    if (!msg || len < kHeaderLen || (key_len && !mac_key))
        return 0;
    uint8_t digest[16];
    signature_of(mac_key, key_len, seq, msg, len, false, digest);
    int same = vnb_ct_equal(digest, msg + kSmbSignatureOffset, 8);
    vnb_wipe(digest, sizeof digest);
    return same;
}
