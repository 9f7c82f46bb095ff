#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ntlm/spnego.h"
#include "sess/logon.h"
#include "sess/support/logon_server.h"
#include "sess/support/sess_fixture.h"
#include "util/text.h"

namespace {

using sp::Bytes;

class Setup : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        peer.respond = [this](const Bytes &r) { return server(r); };
    }
    int32_t logon()
    {
        int32_t rc = do_negotiate(s);
        return rc != 0 ? rc : do_session_setup(s);
    }
    std::vector<Bytes> sent(uint8_t command) const
    {
        std::vector<Bytes> out;
        for (const Bytes &r : peer.requests)
            if (sp::command_of(r) == command)
                out.push_back(r);
        return out;
    }
    sp::LogonServer server;
};

Bytes texts_utf16()
{
    Bytes t = sp::utf16("VANTRELVIEWER");
    sp::append(t, Bytes{0, 0});
    sp::append(t, sp::utf16("jCIFS"));
    sp::append(t, Bytes{0, 0});
    return t;
}

const Bytes kTexts8{'V', 'A', 'N', 'T', 'R', 'E', 'L', 'V', 'I', 'E', 'W', 'E', 'R', 0, 'j', 'C', 'I', 'F', 'S', 0};

// Checks the extended-form request: fixed words, the token, then the two
// texts (UTF-16 at an even offset from the header, or 8-bit).
// The capabilities carry large reads when the server offered them.
void expect_extended_request(const Bytes &r, bool unicode, uint32_t capabilities = 0x80005054u)
{
    sp::SetupRequest q = sp::parse_setup(r);
    ASSERT_EQ(q.word_count, 12);
    EXPECT_EQ(r[33], 0xFF);                    // no AndX command
    EXPECT_EQ(sp::get16(r, 37), 0x4104);       // MaxBufferSize
    EXPECT_EQ(sp::get16(r, 39), 2);            // MaxMpxCount
    EXPECT_EQ(sp::get16(r, 41), 1);            // VcNumber
    EXPECT_EQ(q.capabilities, capabilities);
    EXPECT_EQ(q.byte_count, q.data.size());
    ASSERT_LE(q.blob_len, q.data.size());
    size_t texts_at = q.data_offset + q.blob_len;
    Bytes expect_texts = kTexts8;
    if (unicode) {
        if (texts_at % 2) {
            EXPECT_EQ(r[texts_at], 0) << "pad byte";
            texts_at++;
        }
        expect_texts = texts_utf16();
    }
    EXPECT_EQ(Bytes(r.begin() + static_cast<std::ptrdiff_t>(texts_at), r.end()), expect_texts);
}

TEST_F(Setup, ExtendedLogonInTwoLegs)
{
    for (bool raw : {false, true}) {
        sess_reset(s);
        peer.requests.clear();
        server = sp::LogonServer{};
        server.raw_challenge = raw;
        server.user = "alice";
        server.password = "secret";
        identity("WORKGROUP", "Alice", "secret");

        ASSERT_EQ(logon(), 0) << vnb_error();
        EXPECT_EQ(server.verify_result, 0);
        EXPECT_EQ(s.established, 1);
        EXPECT_EQ(s.guest, 0);
        EXPECT_EQ(s.uid, 0x4001u);
        EXPECT_EQ(s.sign_seq, 2u);
        EXPECT_EQ(Bytes(s.signing_key, s.signing_key + 16), server.session_key);

        std::vector<Bytes> setups = sent(0x73);
        ASSERT_EQ(setups.size(), 2u);
        EXPECT_EQ(sp::uid_of(setups[0]), 0);
        EXPECT_EQ(sp::uid_of(setups[1]), 0x4001);
        for (const Bytes &r : setups) {
            EXPECT_EQ(sp::get16(r, 10), 0xC801);
            EXPECT_EQ(sp::get16(r, 10) & 0x0004, 0) << "SESSION_SETUP is never signed";
            expect_extended_request(r, true);
        }
        // The first token is the negTokenInit around the NEGOTIATE message.
        sp::SetupRequest first = sp::parse_setup(setups[0]);
        EXPECT_EQ(first.blob_len, 66);
        EXPECT_EQ(vnb_negtokeninit_ntlm(first.data.data(), first.blob_len), 1);
    }
}

TEST_F(Setup, TextsAreEightBitWithoutTheUnicodeFlag)
{
    s.negotiated = 1;
    s.ext_security = 1;
    s.flags2 = 0x0801 | 0x4000;
    server.password = "pw";
    identity("", "u", "pw");
    ASSERT_EQ(do_session_setup(s), 0) << vnb_error();
    for (const Bytes &r : sent(0x73))
        expect_extended_request(r, false, 0x80001054u);  // no NEGOTIATE offered large reads
}

TEST_F(Setup, AnonymousExtendedLogonSendsNoIdentity)
{
    identity("WORKGROUP", "", "");
    server.password = "secret";
    ASSERT_EQ(logon(), 0) << vnb_error();
    EXPECT_EQ(server.verify_result, 2) << "the checker saw the anonymous form";
    EXPECT_EQ(s.guest, 1);

    sp::SetupRequest last = sp::parse_setup(sent(0x73).back());
    const uint8_t *type3 = nullptr;
    size_t len = 0;
    int raw = 0;
    ASSERT_EQ(vnb_spnego_unwrap_resp(last.data.data(), last.blob_len, &type3, &len, &raw), 0);
    Bytes t(type3, type3 + len);
    EXPECT_EQ(sp::get16(t, 28), 0) << "domain left out";
    EXPECT_EQ(sp::get16(t, 36), 0) << "user left out";
}

TEST_F(Setup, InterimLimit)
{
    struct Case {
        int interims;
        int32_t rc;
        size_t requests;
    } cases[] = {{5, 0, 6}, {6, -2, 6}, {50, -2, 6}};
    for (const Case &c : cases) {
        sess_reset(s);
        peer.requests.clear();
        server = sp::LogonServer{};
        server.interims = c.interims;
        server.password = "pw";
        identity("", "u", "pw");
        EXPECT_EQ(logon(), c.rc) << c.interims;
        if (c.rc != 0) {
            EXPECT_STREQ(vnb_error(), "the server pings more than 4 SPNEGO interims");
        }
        EXPECT_EQ(sent(0x73).size(), c.requests) << c.interims;
    }
}

// A SESSION_SETUP reply given as a function of the leg (1-based).
struct ReplyCase {
    const char *what;
    std::function<Bytes(const Bytes &req, int leg)> reply;
    int32_t rc;
    const char *text;
};

Bytes type2_in_resp(const Bytes &ntlm)
{
    ByteBuffer b{};
    vnb_spnego_resp_fake(ntlm.data(), ntlm.size(), &b);
    Bytes out(b.data, b.data + b.len);
    vnb_buf_free(&b);
    return out;
}

TEST_F(Setup, ExtendedLegFailures)
{
    const uint8_t ch[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes short_type2 = sp::fake_challenge(ch);
    short_type2.resize(40);
    Bytes type1{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 1, 0, 0, 0, 0x01, 0x04, 0x08, 0xA0};
    type1.resize(32, 0);
    auto mpr = [](Bytes token) {
        return [token](const Bytes &req, int) { return sp::setup_reply_ext(req, 0xC0000016, 0, token, 0x4001); };
    };
    auto then = [&](int fail_leg, Bytes token) {
        return [&, fail_leg, token](const Bytes &req, int leg) {
            Bytes t = leg < fail_leg ? sp::fake_challenge_token(ch) : token;
            return sp::setup_reply_ext(req, 0xC0000016, 0, t, 0x4001);
        };
    };
    const ReplyCase cases[] = {
        {"interim without a token", mpr({}), -2, "MORE_PROCESSING_REQUIRED carried no token"},
        {"interim with 7 bytes", mpr(Bytes(7, 0xA1)), -2, "MORE_PROCESSING_REQUIRED carried no token"},
        {"interim with a SEQUENCE", mpr(Bytes{0x30, 0x06, 0, 0, 0, 0, 0, 0}), -2,
         "leg 1 token is not a negTokenResp we can read"},
        {"second interim unreadable", then(2, Bytes(12, 0x04)), -2, "leg 2 token is not a negTokenResp we can read"},
        {"bare NEGOTIATE message", mpr(type1), -2, "malformed NTLM type-2 CHALLENGE (leg 1)"},
        {"40-byte CHALLENGE", mpr(type2_in_resp(short_type2)), -2, "malformed NTLM type-2 CHALLENGE (leg 1)"},
        {"LOGON_FAILURE", [](const Bytes &req, int) { return sp::setup_reply_ext(req, 0xC000006D, 0, {}, 0); }, -3,
         "SESSION_SETUP: LOGON_FAILURE"},
        {"ACCOUNT_DISABLED", [](const Bytes &req, int) { return sp::setup_reply_ext(req, 0xC0000072, 0, {}, 0); },
         -3, "SESSION_SETUP: ACCOUNT_DISABLED"},
        {"warning status", [](const Bytes &req, int) { return sp::setup_reply_ext(req, 0x80000005, 0, {}, 0); }, -2,
         "SESSION_SETUP: BUFFER_OVERFLOW"},
    };
    for (const ReplyCase &c : cases) {
        sess_reset(s);
        s.negotiated = 1;
        s.ext_security = 1;
        s.flags2 = 0xC801;
        identity("", "u", "pw");
        int leg = 0;
        peer.respond = [&](const Bytes &req) { return std::vector<Bytes>{c.reply(req, ++leg)}; };
        EXPECT_EQ(do_session_setup(s), c.rc) << c.what;
        EXPECT_STREQ(vnb_error(), c.text) << c.what;
        EXPECT_EQ(s.established, 0) << c.what;
    }
}

// A server without NT statuses: its interim leg says ERRDOS/ERRmoredata,
// its refusals are DOS codes with their own classes, and success is 0.
TEST_F(Setup, DosFormReplies)
{
    const uint8_t ch[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    constexpr uint16_t kDosFlags2 = 0x8801;  // Unicode, extended security, no NT status
    struct Case {
        const char *what;
        uint32_t final_status;
        int32_t rc;
        const char *text;
        uint32_t recorded;
    } cases[] = {
        {"success", 0, 0, nullptr, 0},
        {"ERRSRV/ERRbadpw", 0x00020002, -3, "SESSION_SETUP: ERRbadpw", 0x00020002},
        {"ERRDOS/ERRnoaccess", 0x00050001, -3, "SESSION_SETUP: ERRnoaccess", 0x00050001},
        {"ERRSRV/ERRpasswordExpired", 0x08C20002, -3, "SESSION_SETUP: ERRpasswordExpired", 0x08C20002},
        {"ERRSRV/ERRerror", 0x00010002, -2, "SESSION_SETUP: ERRerror", 0x00010002},
    };
    for (const Case &c : cases) {
        sess_reset(s);
        s.negotiated = 1;
        s.ext_security = 1;
        s.flags2 = 0xC801;
        identity("", "u", "pw");
        int leg = 0;
        peer.respond = [&](const Bytes &req) {
            Bytes r = ++leg == 1 ? sp::setup_reply_ext(req, 0x00EA0001, 0, sp::fake_challenge_token(ch), 0x4001,
                                                        kDosFlags2)
                                 : sp::setup_reply_ext(req, c.final_status, 0, sp::accept_completed(), 0x4001,
                                                       kDosFlags2);
            return std::vector<Bytes>{r};
        };
        EXPECT_EQ(do_session_setup(s), c.rc) << c.what << ": " << vnb_error();
        EXPECT_EQ(leg, 2) << c.what;
        EXPECT_EQ(s.established, c.rc == 0 ? 1 : 0) << c.what;
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text) << c.what;
            EXPECT_EQ(s.last_status, c.recorded) << c.what;
            EXPECT_EQ(s.last_status_nt, 0) << c.what;
            EXPECT_EQ(s.last_code, c.rc) << c.what;
        }
    }
}

TEST_F(Setup, RefusedLogonIsRecorded)
{
    server.user = "alice";
    server.password = "right";
    identity("", "alice", "wrong");
    std::memset(s.signing_key, 0x77, 16);
    EXPECT_EQ(logon(), -3);
    EXPECT_EQ(server.verify_result, 1);
    EXPECT_STREQ(vnb_error(), "SESSION_SETUP: LOGON_FAILURE");
    EXPECT_EQ(s.last_status, 0xC000006Du);
    EXPECT_EQ(s.last_status_nt, 1);
    EXPECT_EQ(s.last_code, -3);
    EXPECT_EQ(Bytes(s.signing_key, s.signing_key + 16), Bytes(16, 0)) << "the key is dropped";
    EXPECT_EQ(s.established, 0);
}

// ---- signing after logon ----

struct SignCase {
    const char *what;
    bool extended;
    uint8_t security_mode;
    bool guest_action;
    bool anonymous;
    bool signs;
};

TEST_F(Setup, SigningStartsAfterLogonWhenDemanded)
{
    const SignCase cases[] = {
        {"extended, required", true, 0x0F, false, false, true},
        {"extended, enabled only", true, 0x07, false, false, false},
        {"extended, guest", true, 0x0F, true, false, false},
        {"extended, anonymous", true, 0x0F, false, true, false},
        {"non-extended, required", false, 0x0F, false, false, true},
        {"non-extended, anonymous", false, 0x0F, false, true, false},
    };
    for (const SignCase &c : cases) {
        sess_reset(s);
        peer.requests.clear();
        server = sp::LogonServer{};
        server.extended = c.extended;
        server.security_mode = c.security_mode;
        server.guest_action = c.guest_action;
        server.password = "pw";
        if (c.anonymous)
            identity("", "", "");
        else
            identity("DOM", "user", "pw");
        ASSERT_EQ(logon(), 0) << c.what << ": " << vnb_error();
        EXPECT_EQ(server.mac_key.empty(), !c.signs) << c.what;

        for (int i = 0; i < 2; i++) {
            ASSERT_EQ(cmd_ok(s, 0x71, {}, 5, "TREE_DISCONNECT"), 0) << c.what << ": " << vnb_error();
        }
        EXPECT_TRUE(server.request_signature_errors.empty()) << c.what << ": " << server.request_signature_errors[0];
        const Bytes &last = peer.requests.back();
        EXPECT_EQ((sp::get16(last, 10) & 0x0004) != 0, c.signs) << c.what;
        EXPECT_EQ(s.sign_seq, c.signs ? 6u : 2u) << c.what;
    }
}

TEST_F(Setup, FinalReplySignature)
{
    struct Case {
        const char *what;
        bool sign_final;
        bool flag;
        int bad;
        int32_t rc;
    } cases[] = {
        {"signed with 1", true, true, 0, 0},
        {"signed with 1, Flags2 bit not set", true, false, 0, 0},
        {"not signed", false, false, 0, 0},
        {"signed with 2", true, true, 1, -2},
        {"signed with 2, Flags2 bit not set", true, false, 1, -2},
    };
    for (const Case &c : cases) {
        sess_reset(s);
        server = sp::LogonServer{};
        server.security_mode = 0x0F;
        server.password = "pw";
        server.sign_final = c.sign_final;
        server.bad_final_signature = c.bad;
        server.final_flag = c.flag;
        identity("", "user", "pw");
        EXPECT_EQ(logon(), c.rc) << c.what;
        if (c.rc != 0) {
            EXPECT_STREQ(vnb_error(), "SESSION_SETUP reply signature does not verify");
            EXPECT_EQ(s.established, 0);
        }
    }
}

TEST_F(Setup, UnsignedFinalReplyMayCarryThePlaceholderText)
{
    // Some servers fill the signature field of a reply they do not sign with
    // "BSRSPYL "; that is no signature to check, and signing still starts.
    for (bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended" : "non-extended");
        sess_reset(s);
        server = sp::LogonServer{};
        server.extended = extended;
        server.security_mode = 0x0F;
        server.password = "pw";
        server.sign_final = false;
        server.final_placeholder = true;
        identity("", "user", "pw");
        ASSERT_EQ(logon(), 0) << vnb_error();
        ASSERT_EQ(cmd_ok(s, 0x71, {}, 5, "TREE_DISCONNECT"), 0) << vnb_error();
        EXPECT_TRUE(server.request_signature_errors.empty());
    }
}

// ---- non-extended logon ----

TEST_F(Setup, NonExtendedNtlmV2Logon)
{
    // Without CAP_STATUS32 a server answers in DOS error form, so the words
    // always carry it; the strings follow the server's CAP_UNICODE.
    const std::string long_user = "m\xC3\xA9" + std::string(60, 'x');  // longer than 32 UTF-16 units
    struct Case {
        const char *what;
        bool server_unicode;
        std::string user;
        uint16_t flags2;
    } cases[] = {
        {"Unicode server", true, "bob", 0xC001},
        {"Unicode server, long name with an accent", true, long_user, 0xC001},
        {"server without Unicode", false, "bob", 0x4001},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sess_reset(s);
        peer.requests.clear();
        server = sp::LogonServer{};
        server.extended = false;
        server.unicode = c.server_unicode;
        server.user = c.user;
        server.password = "pw";
        identity("HOME", c.user.c_str(), "pw");
        ASSERT_EQ(logon(), 0) << vnb_error();
        EXPECT_EQ(server.verify_result, 0);
        EXPECT_EQ(server.client_user, c.user);
        EXPECT_EQ(server.client_domain, "HOME");
        EXPECT_EQ(server.client_os, "VANTRELVIEWER");
        EXPECT_EQ(server.client_lanman, "jCIFS");
        EXPECT_EQ(Bytes(s.signing_key, s.signing_key + 16), server.session_key);
        EXPECT_EQ(s.guest, 0);

        std::vector<Bytes> setups = sent(0x73);
        ASSERT_EQ(setups.size(), 1u);
        const Bytes &r = setups[0];
        sp::SetupRequest q = sp::parse_setup(r);
        EXPECT_EQ(sp::get16(r, 10), c.flags2);
        EXPECT_EQ(q.word_count, 13);
        EXPECT_EQ(q.lm_len, 24);
        EXPECT_EQ(q.nt_len, s.nt_response_len);
        EXPECT_GE(q.nt_len, 44);
        // Unicode, NT SMBs, 32-bit status, NT find, and the server's large
        // read/write bits.
        EXPECT_EQ(q.capabilities, 0xD054u);
        EXPECT_EQ(q.byte_count, q.data.size());
        Bytes tail;
        size_t texts_at = q.data_offset + 24 + q.nt_len;
        if (c.server_unicode) {
            if (texts_at % 2)
                tail.push_back(0);
            for (const std::string &t : {c.user, std::string("HOME")}) {
                uint8_t wide[512];
                int32_t n = 0;
                ASSERT_EQ(vnb_utf8_to_utf16le(t.c_str(), wide, sizeof wide, &n), 0);
                sp::append(tail, Bytes(wide, wide + n));
                sp::append(tail, Bytes{0, 0});
            }
            sp::append(tail, texts_utf16());
        } else {
            tail = {'b', 'o', 'b', 0, 'H', 'O', 'M', 'E', 0};
            sp::append(tail, kTexts8);
        }
        EXPECT_EQ(Bytes(q.data.begin() + 24 + q.nt_len, q.data.end()), tail);
    }
}

TEST_F(Setup, NonExtendedAnonymousLogon)
{
    server.extended = false;
    identity("", "", "");
    std::memset(s.signing_key, 0x55, 16);
    ASSERT_EQ(logon(), 0) << vnb_error();
    sp::SetupRequest q = sp::parse_setup(sent(0x73).at(0));
    EXPECT_EQ(q.lm_len, 0);
    EXPECT_EQ(q.nt_len, 0);
    EXPECT_EQ(s.guest, 1);
    EXPECT_EQ(Bytes(s.signing_key, s.signing_key + 16), Bytes(16, 0));
}

TEST_F(Setup, NonExtendedFailures)
{
    struct Case {
        const char *what;
        int have_challenge;
        const char *user;
        const char *password;
        uint32_t reply_status;
        int32_t rc;
        const char *text;
        size_t requests;
    } cases[] = {
        {"no challenge", 0, "bob", "pw", 0, -2, "the server offered no challenge and no extended security", 0},
        {"user without password", 1, "bob", "", 0, -3, "cannot build the NTLMv2 responses for this identity", 0},
        {"interim reply", 1, "bob", "pw", 0xC0000016, -2, "MORE_PROCESSING_REQUIRED on the non-extended leg", 1},
        {"refused", 1, "bob", "pw", 0xC000006D, -3, "SESSION_SETUP: LOGON_FAILURE", 1},
    };
    for (const Case &c : cases) {
        sess_reset(s);
        peer.requests.clear();
        s.negotiated = 1;
        s.ext_security = 0;
        s.flags2 = 0x4001;
        s.security_mode = 0x03;  // user level, encrypted passwords
        s.have_challenge = c.have_challenge;
        identity("", c.user, c.password);
        peer.respond = [&c](const Bytes &req) {
            return std::vector<Bytes>{sp::setup_reply_basic(req, c.reply_status, 0, 0x4001)};
        };
        EXPECT_EQ(do_session_setup(s), c.rc) << c.what;
        EXPECT_STREQ(vnb_error(), c.text) << c.what;
        EXPECT_EQ(peer.requests.size(), c.requests) << c.what;
    }
}

TEST_F(Setup, GuestBitOfTheNonExtendedReplyIsRead)
{
    server.extended = false;
    server.guest_action = true;
    server.password = "pw";
    identity("", "bob", "pw");
    ASSERT_EQ(logon(), 0) << vnb_error();
    EXPECT_EQ(s.guest, 1);
}

TEST_F(Setup, TraceLines)
{
    server.password = "pw";
    identity("", "u", "pw");
    ASSERT_EQ(do_negotiate(s), 0);
    sp::TraceOn trace;
    testing::internal::CaptureStderr();
    ASSERT_EQ(do_session_setup(s), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[ss1] wc=4 uid_read=16385 nt=1 status=c0000016\n[ss1] wc=4 uid_read=16385 nt=1 status=00000000\n"
              "[ss] uid=16385 guest=0 extsec=1 legs=2 signing=0 logon=ntlmv2\n");
}

}  // namespace
