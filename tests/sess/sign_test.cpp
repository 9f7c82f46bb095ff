#include <gtest/gtest.h>

#include "crypto/smb_sign.h"
#include "sess/support/script_peer.h"

namespace {

using sp::Bytes;

Bytes message(size_t len, uint8_t seed)
{
    Bytes m(len);
    for (size_t i = 0; i < len; i++)
        m[i] = static_cast<uint8_t>(seed + i * 7);
    const uint8_t head[12] = {0xFF, 'S', 'M', 'B', 0x2E, 0, 0, 0, 0, 0x18, 0x01, 0xC8};  // Flags2 unsigned
    for (size_t i = 0; i < len && i < sizeof head; i++)
        m[i] = head[i];
    return m;
}

Bytes key_of(size_t len)
{
    Bytes k(len);
    for (size_t i = 0; i < len; i++)
        k[i] = static_cast<uint8_t>(0xA0 ^ i);
    return k;
}

TEST(SmbSign, MatchesMd5OfKeyAndMessageWithTheSequenceNumber)
{
    struct Case {
        size_t key_len;
        uint32_t seq;
        size_t msg_len;
    } cases[] = {
        {16, 0, 35}, {16, 2, 32}, {16, 0xFFFFFFFF, 200}, {16 + 110, 4, 64}, {0, 1, 33},
    };
    for (const Case &c : cases) {
        Bytes key = key_of(c.key_len);
        Bytes m = message(c.msg_len, static_cast<uint8_t>(c.seq));
        Bytes before = m;
        vnb_sign_frame(key.data(), key.size(), c.seq, m.data(), m.size());

        Bytes flagged = before;
        flagged[10] |= 0x04;
        Bytes sig = sp::expected_signature(key, c.seq, flagged);
        EXPECT_EQ(Bytes(m.begin() + 14, m.begin() + 22), sig) << "seq " << c.seq;
        EXPECT_EQ(m[10], before[10] | 0x04);
        // Nothing else changes.
        for (size_t i = 0; i < m.size(); i++) {
            bool signed_field = i == 10 || (i >= 14 && i < 22);
            EXPECT_TRUE(signed_field || m[i] == before[i]) << "byte " << i;
        }
    }
}

TEST(SmbSign, ShortMessagesAreLeftAlone)
{
    Bytes key = key_of(16);
    Bytes m = message(31, 3);
    Bytes before = m;
    vnb_sign_frame(key.data(), key.size(), 0, m.data(), m.size());
    EXPECT_EQ(m, before);
    EXPECT_EQ(vnb_sign_verify(key.data(), key.size(), 0, m.data(), m.size()), 0);
}

TEST(SmbSign, VerifyAcceptsOnlyTheRightKeySequenceAndBytes)
{
    Bytes key = key_of(16);
    Bytes m = message(120, 9);
    vnb_sign_frame(key.data(), key.size(), 7, m.data(), m.size());
    EXPECT_EQ(vnb_sign_verify(key.data(), key.size(), 7, m.data(), m.size()), 1);

    Bytes other_key = key;
    other_key[15] ^= 1;
    Bytes tampered = m;
    tampered[100] ^= 0x80;
    Bytes unflagged = m;
    unflagged[10] &= ~0x04;
    struct Case {
        const char *what;
        const Bytes &key;
        uint32_t seq;
        const Bytes &msg;
    } cases[] = {
        {"next sequence number", key, 8, m},
        {"previous sequence number", key, 6, m},
        {"other key", other_key, 7, m},
        {"one body bit flipped", key, 7, tampered},
        {"signature bit cleared", key, 7, unflagged},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(vnb_sign_verify(c.key.data(), c.key.size(), c.seq, c.msg.data(), c.msg.size()), 0) << c.what;
    }
}

}  // namespace
