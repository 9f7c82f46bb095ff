#include "sess/support/sess_fixture.h"

#include "fake/fake_transport.h"
#include "ntlm/spnego.h"
#include "util/bytebuf.h"
#include "support/test_env.h"

namespace sp {

Bytes negotiate_words(const NegWords &w)
{
    Bytes b;
    put16(b, w.dialect);
    put8(b, w.security_mode);
    put16(b, w.max_mpx);
    put16(b, 1);  // MaxNumberVcs
    put32(b, w.max_buffer);
    put32(b, w.max_raw);
    put32(b, 0);  // SessionKey
    put32(b, w.capabilities);
    put64(b, 0x01DA1747C66D0000ULL);
    put16(b, 0);  // ServerTimeZone
    put8(b, w.challenge_len);
    return b;
}

namespace {

// Words are 34 bytes: reply_to takes WordCount from an even size, so the
// odd-sized NEGOTIATE words are written by hand here.
Bytes negotiate_reply(const Bytes &req, const NegWords &w, const Bytes &bytes)
{
    Bytes r = reply_to(req, 0, Bytes(34, 0), bytes, 0xC801);
    Bytes words = negotiate_words(w);
    std::memcpy(r.data() + 33, words.data(), words.size());
    return r;
}

}  // namespace

Bytes negotiate_ext(const Bytes &req, uint8_t security_mode, const Bytes &blob)
{
    NegWords w;
    w.security_mode = security_mode;
    w.capabilities = 0x8000F3FD;
    Bytes bytes(16, 0xAB);
    append(bytes, blob);
    return negotiate_reply(req, w, bytes);
}

Bytes negotiate_basic(const Bytes &req, const Bytes &challenge, uint8_t security_mode, uint32_t capabilities)
{
    NegWords w;
    w.security_mode = security_mode;
    w.capabilities = capabilities;
    w.challenge_len = 8;
    Bytes bytes = challenge;
    append(bytes, Bytes{'F', 'A', 'K', 'E', 0, 0});
    return negotiate_reply(req, w, bytes);
}

Bytes setup_reply_ext(const Bytes &req, uint32_t status, uint16_t action, const Bytes &blob, uint16_t uid,
                      uint16_t flags2)
{
    Bytes words{0xFF, 0, 0, 0};
    put16(words, action);
    put16(words, static_cast<uint32_t>(blob.size()));
    Bytes r = reply_to(req, status, words, blob, flags2);
    set_uid(r, uid);
    return r;
}

Bytes setup_reply_basic(const Bytes &req, uint32_t status, uint16_t action, uint16_t uid)
{
    Bytes words{0xFF, 0, 0, 0};
    put16(words, action);
    Bytes r = reply_to(req, status, words, {}, 0x4801);
    set_uid(r, uid);
    return r;
}

void set_uid(Bytes &reply, uint16_t uid)
{
    reply[28] = uint8_t(uid);
    reply[29] = uint8_t(uid >> 8);
}

Bytes fake_challenge(const uint8_t challenge[8])
{
    Bytes m{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    put32(m, 2);
    put64(m, 0);            // target name
    put32(m, 0x00008205);   // flags
    m.insert(m.end(), challenge, challenge + 8);
    put64(m, 0);            // reserved
    put16(m, 32);           // target info length, maximum, offset
    put16(m, 32);
    put32(m, 48);
    // AV pairs: domain "FAKE", computer "FAKE", timestamp, end.
    const Bytes fake{'F', 'A', 'K', 'E'};
    put16(m, 2);
    put16(m, 4);
    append(m, fake);
    put16(m, 1);
    put16(m, 4);
    append(m, fake);
    put16(m, 7);
    put16(m, 8);
    put64(m, 0x01DA1747C66D0000ULL);
    put32(m, 0);
    return m;
}

Bytes fake_challenge_token(const uint8_t challenge[8])
{
    Bytes m = fake_challenge(challenge);
    ByteBuffer b{};
    vnb_spnego_resp_fake(m.data(), m.size(), &b);
    Bytes out(b.data, b.data + b.len);
    vnb_buf_free(&b);
    return out;
}

Bytes accept_completed()
{
    return {0xA1, 0x07, 0x30, 0x05, 0xA0, 0x03, 0x0A, 0x01, 0x00};
}

std::unique_ptr<MsgTransport> fake_transport()
{
    return vnb_fake_transport();
}

void SessTest::SetUp()
{
    ::unsetenv("VNSMB1C_TRACE");
    identity("", "", "");
    std::strcpy(s.host, "peer");
    s.timeout_ms = 1000;
    s.transport = transport_for(peer);
}

void SessTest::TearDown()
{
    sess_reset(s);
}

void SessTest::fresh_peer()
{
    sess_reset(s);
    peer = ScriptPeer{};
    s.transport = transport_for(peer);
}

void SessTest::identity(const char *domain, const char *user, const char *password)
{
    std::snprintf(s.domain, sizeof s.domain, "%s", domain);
    std::snprintf(s.user, sizeof s.user, "%s", user);
    std::snprintf(s.password, sizeof s.password, "%s", password);
    s.anonymous = (!*user && !*password) ? 1 : 0;
}

}  // namespace sp
