// Server-side check of AUTHENTICATE messages built by the client code, and of
// hostile variants of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "crypto/crypto.h"
#include "ntlm/ntlm.h"
#include "ntlm/ntlm_test_util.h"
#include "ntlm/spnego.h"
#include "support/test_env.h"

namespace {

constexpr uint8_t kCc[8] = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8};

class NtlmVerify : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(saved_, g_fake_challenge, 8);
        std::memcpy(g_fake_challenge, kFakeChallenge, 8);
        const Bytes challenge = fake_challenge_message(kFakeChallenge);
        ASSERT_EQ(vnb_ntlm_parse_type2(challenge.data(), challenge.size(), &ch_), 0);
        msg_ = build("WORKGROUP", "alice", "secret", client_key_);
    }
    void TearDown() override { std::memcpy(g_fake_challenge, saved_, 8); }

    Bytes build(const char *domain, const char *user, const char *password, uint8_t key[16])
    {
        Buf out;
        EXPECT_EQ(vnb_ntlm_build_type3_at(&ch_, domain, user, password, vnb_ntlm_filetime(1700000000), kCc, &out.b,
                                          key),
                  0);
        return out.bytes();
    }

    static int verify(const Bytes &m, const char *expected_user, const char *password, uint8_t key[16])
    {
        return vnb_ntlm_verify_type3(m.data(), m.size(), expected_user, password, key);
    }

    // Adds an encrypted session key of n bytes at the end and sets KEY_EXCH.
    static Bytes with_key_exchange(Bytes m, const Bytes &encrypted)
    {
        set_field(m, 52, uint32_t(encrypted.size()), uint32_t(m.size()));
        set32(m, 60, get32(m, 60) | NTLMSSP_NEGOTIATE_KEY_EXCH);
        m.insert(m.end(), encrypted.begin(), encrypted.end());
        return m;
    }

    NtlmChallenge ch_{};
    Bytes msg_;
    uint8_t client_key_[16] = {};

private:
    uint8_t saved_[8] = {};
};

TEST_F(NtlmVerify, ClientMessageAgainstExpectedIdentity)
{
    struct Case {
        const char *expected_user;
        const char *password;
        int result;
    };
    const Case cases[] = {
        {"alice", "secret", 0}, {"ALICE", "secret", 0}, {nullptr, "secret", 0}, {"", "secret", 0},
        {"bob", "secret", 1},   {"alice", "Secret", 1}, {"alice", "", 1},       {"alicex", "secret", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.expected_user ? c.expected_user : "(null)") + " / " + c.password);
        uint8_t key[16];
        std::memset(key, 0xAB, sizeof key);
        EXPECT_EQ(verify(msg_, c.expected_user, c.password, key), c.result);
        const Bytes want = c.result == 0 ? Bytes(client_key_, client_key_ + 16) : Bytes(16, 0);
        EXPECT_EQ(Bytes(key, key + 16), want);
    }
}

TEST_F(NtlmVerify, AnonymousMessage)
{
    uint8_t client_key[16];
    const Bytes anon = build("", "", "", client_key);
    uint8_t key[16];
    std::memset(key, 0xAB, sizeof key);
    EXPECT_EQ(verify(anon, "alice", "secret", key), 2);
    EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));

    // A user name with an empty NT response is still anonymous.
    const Bytes named = build("", "alice", "", client_key);
    EXPECT_EQ(verify(named, "alice", "secret", key), 2);
}

TEST_F(NtlmVerify, KeyExchangeDecryptsTheClientsKey)
{
    const Bytes chosen = hex("00112233445566778899aabbccddeeff");
    Bytes encrypted = chosen;
    Rc4State rc4;
    vnb_rc4_init(&rc4, client_key_, 16);
    vnb_rc4(&rc4, encrypted.data(), encrypted.size());

    uint8_t key[16];
    EXPECT_EQ(verify(with_key_exchange(msg_, encrypted), "alice", "secret", key), 0);
    EXPECT_EQ(Bytes(key, key + 16), chosen);

    std::memset(key, 0xAB, sizeof key);
    EXPECT_EQ(verify(with_key_exchange(msg_, slice(encrypted, 0, 15)), "alice", "secret", key), -1);
    EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
    EXPECT_EQ(verify(with_key_exchange(msg_, Bytes(17, 1)), "alice", "secret", key), -1);
    EXPECT_EQ(verify(with_key_exchange(msg_, encrypted), "alice", "wrong", key), 1)
        << "the response is checked before the key field";
}

TEST_F(NtlmVerify, HostileMessages)
{
    // Layout of msg_: NT response 84 bytes at 64, domain 18 at 148, user 10 at
    // 166, workstation 26 at 176, empty session key at 202.
    ASSERT_EQ(msg_.size(), 202u);
    ASSERT_EQ(get32(msg_, 40), 166u);
    using Mutation = std::function<void(Bytes &)>;
    struct Case {
        const char *what;
        Mutation mutate;
        int result;
    };
    const Case cases[] = {
        {"unchanged", [](Bytes &) {}, 0},
        {"71 bytes", [](Bytes &m) { m.resize(71); }, -1},
        {"signature", [](Bytes &m) { m[4] = 's'; }, -1},
        {"message type 2", [](Bytes &m) { m[8] = 2; }, -1},
        {"NT offset 0", [](Bytes &m) { set_field(m, 20, 84, 0); }, -1},
        {"NT block one byte past the end", [](Bytes &m) { set_field(m, 20, 84, uint32_t(m.size()) - 83); }, -1},
        {"NT offset near 2^32", [](Bytes &m) { set_field(m, 20, 84, 0xFFFFFFF0); }, -1},
        {"NT length 0xFFFF", [](Bytes &m) { set_field(m, 20, 0xFFFF, 64); }, -1},
        {"NT response of 43 bytes", [](Bytes &m) { set_field(m, 20, 43, 64); }, -1},
        {"NT response of 44 bytes: well-formed, wrong proof", [](Bytes &m) { set_field(m, 20, 44, 64); }, 1},
        {"NT response of 1041 bytes",
         [](Bytes &m) {
             const size_t at = m.size();
             m.resize(at + 1041, 0);
             m[at + 16] = m[at + 17] = 1;
             set_field(m, 20, 1041, uint32_t(at));
         },
         -1},
        {"NT response of 1040 bytes: well-formed, wrong proof",
         [](Bytes &m) {
             const size_t at = m.size();
             m.resize(at + 1040, 0);
             m[at + 16] = m[at + 17] = 1;
             set_field(m, 20, 1040, uint32_t(at));
         },
         1},
        {"blob response type 2", [](Bytes &m) { m[64 + 16] = 2; }, -1},
        {"blob highest type 0", [](Bytes &m) { m[64 + 17] = 0; }, -1},
        {"user offset 0 with a length", [](Bytes &m) { set_field(m, 36, 10, 0); }, -1},
        {"user block past the end", [](Bytes &m) { set_field(m, 36, 10, 5000); }, -1},
        {"user of odd length", [](Bytes &m) { set_field(m, 36, 9, 166); }, -1},
        {"user holding a zero unit", [](Bytes &m) { set_field(m, 36, 10, 64 + 16 + 2); }, -1},
        {"user longer than 128 bytes",
         [](Bytes &m) {
             const Bytes name = utf16(std::string(129, 'a'));
             set_field(m, 36, uint32_t(name.size()), uint32_t(m.size()));
             m.insert(m.end(), name.begin(), name.end());
         },
         -1},
        {"user of 128 bytes: well-formed, other user",
         [](Bytes &m) {
             const Bytes name = utf16(std::string(128, 'a'));
             set_field(m, 36, uint32_t(name.size()), uint32_t(m.size()));
             m.insert(m.end(), name.begin(), name.end());
         },
         1},
        {"empty user", [](Bytes &m) { set_field(m, 36, 0, 166); }, 1},
        {"user renamed in the message", [](Bytes &m) { m[166] = 'A'; }, 0},
        {"user changed in the message", [](Bytes &m) { m[166] = 'e'; }, 1},
        {"domain unreadable: counts as empty, proof fails", [](Bytes &m) { set_field(m, 28, 18, 9000); }, 1},
        {"domain changed", [](Bytes &m) { m[148] = 'w'; }, 1},
        {"blob byte changed", [](Bytes &m) { m[64 + 40] ^= 1; }, 1},
        {"proof byte changed", [](Bytes &m) { m[64 + 15] ^= 1; }, 1},
        {"LM descriptor nonsense", [](Bytes &m) { set_field(m, 12, 0xFFFF, 0xFFFFFFFF); }, 0},
        {"workstation cut off", [](Bytes &m) { m.erase(m.end() - 4, m.end()); }, 0},
        {"key exchange flag without a key", [](Bytes &m) { m[63] |= 0x40; }, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes m = msg_;
        c.mutate(m);
        uint8_t key[16];
        EXPECT_EQ(verify(m, "alice", "secret", key), c.result);
    }
}

TEST_F(NtlmVerify, UnreadableDomainCountsAsEmpty)
{
    uint8_t client_key[16];
    Bytes m = build("", "alice", "secret", client_key);
    set_field(m, 28, 3, 64);  // odd length: does not convert
    uint8_t key[16];
    EXPECT_EQ(verify(m, "alice", "secret", key), 0);
    set_field(m, 28, 4, 7000);  // past the end
    EXPECT_EQ(verify(m, "alice", "secret", key), 0);
    EXPECT_EQ(Bytes(key, key + 16), Bytes(client_key, client_key + 16));
}

TEST_F(NtlmVerify, NullArguments)
{
    uint8_t key[16];
    EXPECT_EQ(vnb_ntlm_verify_type3(nullptr, 200, "alice", "secret", key), -1);
    EXPECT_EQ(vnb_ntlm_verify_type3(msg_.data(), msg_.size(), "alice", "secret", nullptr), -1);
    EXPECT_EQ(vnb_ntlm_verify_type3(msg_.data(), msg_.size(), "alice", nullptr, key), 1)
        << "a NULL password counts as empty";
}

TEST_F(NtlmVerify, TracesDescriptorsOutsideTheMessage)
{
    Bytes m = msg_;
    set_field(m, 36, 10, 5000);
    set16(m, 38, 12);  // maximum length differs from the length
    uint8_t key[16];

    ::unsetenv("VNSMB1C_TRACE");
    testing::internal::CaptureStderr();
    EXPECT_EQ(verify(m, "alice", "secret", key), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

#ifdef _WIN32
    ::setenv("VNSMB1C_TRACE", "1", 1);  // the Windows runtime drops a variable set to ""
#else
    ::setenv("VNSMB1C_TRACE", "", 1);
#endif
    testing::internal::CaptureStderr();
    EXPECT_EQ(verify(m, "alice", "secret", key), -1);
    const std::string trace = testing::internal::GetCapturedStderr();
    ::unsetenv("VNSMB1C_TRACE");
    EXPECT_EQ(trace, "[t3field] off=5000 ln=10 msglen=202 hi=12\n");
}

// The whole exchange as the session layer and the fake server run it.
TEST_F(NtlmVerify, ClientAndServerAgreeThroughSpnego)
{
    Buf type1;
    Buf init;
    ASSERT_EQ(vnb_ntlm_build_type1(&type1.b), 0);
    vnb_spnego_wrap_type1(type1.b.data, type1.b.len, &init.b);
    ASSERT_EQ(vnb_negtokeninit_ntlm(init.b.data, init.b.len), 1);

    const Bytes challenge = fake_challenge_message(kFakeChallenge);
    Buf resp;
    vnb_spnego_resp_fake(challenge.data(), challenge.size(), &resp.b);
    const uint8_t *token = nullptr;
    size_t token_len = 0;
    int raw = -1;
    ASSERT_EQ(vnb_spnego_unwrap_resp(resp.b.data, resp.b.len, &token, &token_len, &raw), 0);
    NtlmChallenge ch{};
    ASSERT_EQ(vnb_ntlm_parse_type2(token, token_len, &ch), 0);

    Buf type3;
    uint8_t client_key[16];
    ASSERT_EQ(vnb_ntlm_build_type3(&ch, "WORKGROUP", "alice", "secret", 1700000000, &type3.b, client_key), 0);
    Buf wrapped;
    vnb_spnego_wrap_type3(type3.b.data, type3.b.len, &wrapped.b);
    ASSERT_FALSE(wrapped.b.failed);
    ASSERT_EQ(vnb_spnego_unwrap_resp(wrapped.b.data, wrapped.b.len, &token, &token_len, &raw), 0);
    EXPECT_EQ(raw, 0);
    uint8_t server_key[16];
    EXPECT_EQ(vnb_ntlm_verify_type3(token, token_len, "Alice", "secret", server_key), 0);
    EXPECT_EQ(Bytes(server_key, server_key + 16), Bytes(client_key, client_key + 16));
}

}  // namespace
