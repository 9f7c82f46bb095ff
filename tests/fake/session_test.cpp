// NEGOTIATE, both SESSION_SETUP forms, LOGOFF, signing and the rules every
// reply follows.
#include <gtest/gtest.h>

#include "crypto/crypto.h"
#include "fake_client.h"

using namespace fk;

namespace {

constexpr const char *kTree = R"({"shares":[{"name":"media","root":[{"name":"a.txt","text":"hello"}]}],
    "users":[{"name":"bob","pass":"secret"},{"name":"amy","pass":"other"}]})";

class FakeSession : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, vnb_fake_load(kTree)); }
    Client c;
};

TEST_F(FakeSession, NegotiateWithExtendedSecurity)
{
    Req req = negotiate_req({"PC NETWORK PROGRAM 1.0", "LANMAN1.0", "NT LM 0.12"});
    req.mid = 77;
    Reply r = exchange(build(req));
    ASSERT_TRUE(r.present);
    EXPECT_EQ(0u, r.status());
    EXPECT_EQ(0x72, r.command());
    EXPECT_EQ(77, r.mid());
    EXPECT_EQ(0x1234, r.pid());
    EXPECT_EQ(0x90, r.msg[9]);
    EXPECT_EQ(0xC801, r.flags2());
    ASSERT_EQ(17, r.wc());
    EXPECT_EQ(2, r.word(0));                         // DialectIndex
    EXPECT_EQ(0x07, r.msg[35]);                      // user level, encrypted passwords, signing enabled
    EXPECT_EQ(65535u, r32(r.msg, 40));               // MaxBufferSize
    uint32_t caps = r32(r.msg, 52);
    EXPECT_EQ(0x80000000u, caps & 0x80000000u);
    EXPECT_EQ(0x425Cu, caps & 0x0000FFFFu);  // Unicode, large files, NT SMBs, status32, NT find, large reads
    EXPECT_EQ(0x01DA1747C66D0000ull, r64(r.msg, 56));
    EXPECT_EQ(0, r.msg[66]);                         // ChallengeLength
    Bytes bytes = r.data_bytes();
    ASSERT_EQ(r.byte_count(), bytes.size());
    ASSERT_GT(bytes.size(), 16u);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(i % 2 ? 0x5E : 0xED, bytes[i]);
    EXPECT_EQ(1, vnb_negtokeninit_ntlm(bytes.data() + 16, bytes.size() - 16));
}

TEST_F(FakeSession, NegotiateBasicSecurity)
{
    ASSERT_EQ(0, vnb_fake_fault("no_extsec", 1));
    const Bytes challenge = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};
    struct {
        uint16_t flags2;
        Bytes names;
    } cases[] = {
        {kOemFlags2, {'F', 'A', 'K', 'E', 0, 0}},
        {kUnicodeFlags2, {'F', 0, 'A', 0, 'K', 0, 'E', 0, 0, 0, 0, 0}},
    };
    for (const auto &tc : cases) {
        Req req = negotiate_req();
        req.flags2 = tc.flags2;
        Reply r = exchange(build(req));
        ASSERT_EQ(17, r.wc());
        EXPECT_EQ(0u, r32(r.msg, 52) & 0x80000000u);
        EXPECT_EQ(8, r.msg[66]);
        Bytes expected = challenge;
        expected.insert(expected.end(), tc.names.begin(), tc.names.end());
        EXPECT_EQ(expected, r.data_bytes());
        EXPECT_EQ(0, r.flags2() & 0x0800);
    }
}

TEST_F(FakeSession, ExtendedSecurityOnlyForAClientThatAsks)
{
    // Like Samba: the Flags2 bit 0x0800 of the NEGOTIATE decides.
    for (uint16_t flags2 : {uint16_t{0x4001}, uint16_t{0xC001}}) {
        Req req = negotiate_req();
        req.flags2 = flags2;
        Reply r = exchange(build(req));
        ASSERT_EQ(17, r.wc());
        EXPECT_EQ(0u, r32(r.msg, 52) & 0x80000000u) << std::hex << flags2;
        EXPECT_EQ(8, r.msg[66]);
    }
}

TEST_F(FakeSession, NegotiateWithoutNtLm012)
{
    for (const auto &dialects : {std::vector<std::string>{"LANMAN1.0", "LM1.2X002"}, std::vector<std::string>{}}) {
        Reply r = exchange(build(negotiate_req(dialects)));
        EXPECT_EQ(0u, r.status());
        ASSERT_EQ(1, r.wc());
        EXPECT_EQ(0xFFFF, r.word(0));
    }
    Req bad = negotiate_req();
    bad.bytes[0] = 0x05;  // not a dialect buffer format
    EXPECT_EQ(0xFFFF, exchange(build(bad)).word(0));
}

struct ExtLogonCase {
    const char *what;
    const char *user;
    const char *pass;
    uint32_t status;
    uint16_t action;
};

TEST_F(FakeSession, ExtendedLogons)
{
    const ExtLogonCase cases[] = {
        {"first user", "bob", "secret", 0, 0},
        {"user name in another case", "BOB", "secret", 0, 0},
        {"wrong password", "bob", "wrong", STATUS_LOGON_FAILURE, 0},
        {"second user is never consulted", "amy", "other", STATUS_LOGON_FAILURE, 0},
        {"anonymous", "", "", 0, 1},
        {"named user without password", "bob", "", 0, 1},
    };
    for (bool spnego : {true, false}) {
        for (const ExtLogonCase &tc : cases) {
            SCOPED_TRACE(std::string(tc.what) + (spnego ? " (SPNEGO)" : " (raw)"));
            Client cl;
            ASSERT_EQ(0u, cl.negotiate().status());
            // The first leg answers with the CHALLENGE in the form it was asked.
            ByteBuffer t1{};
            vnb_ntlm_build_type1(&t1);
            ByteBuffer tok{};
            if (spnego)
                vnb_spnego_wrap_type1(t1.data, t1.len, &tok);
            else
                vnb_buf_put(&tok, t1.data, t1.len);
            Reply leg1 = cl.send(session_setup_ext(buf_bytes(tok)));
            vnb_buf_free(&t1);
            vnb_buf_free(&tok);
            ASSERT_EQ(STATUS_MORE_PROCESSING_REQUIRED, leg1.status());
            EXPECT_EQ(0x4001, leg1.uid());
            ASSERT_EQ(4, leg1.wc());
            EXPECT_EQ(spnego ? 107 : 80, leg1.word(3));
            if (spnego) {
                EXPECT_EQ(0xA1, leg1.msg[leg1.bc_offset() + 2]);
            }
            cl.uid = leg1.uid();

            Reply r = cl.logon_leg2(leg1, tc.user, tc.pass, spnego);
            EXPECT_EQ(tc.status, r.status());
            EXPECT_EQ(0x4001, r.uid());
            EXPECT_NE(0, r.flags2() & 0x4000);
            if (tc.status == 0) {
                ASSERT_EQ(4, r.wc());
                EXPECT_EQ(tc.action, r.word(2));
                EXPECT_EQ((Bytes{0xA1, 0x07, 0x30, 0x05, 0xA0, 0x03, 0x0A, 0x01, 0x00}),
                          r.slice(r.bc_offset() + 2, r.word(3)));
                EXPECT_EQ(0u, cl.send(tree_connect_req("\\\\fake\\media")).status());
            } else {
                EXPECT_EQ(0, r.wc());
                EXPECT_EQ(STATUS_USER_SESSION_DELETED, cl.send(tree_connect_req("\\\\fake\\media")).status());
                // The refusal reset the exchange: a type-1 starts it again.
                ByteBuffer again{};
                vnb_ntlm_build_type1(&again);
                EXPECT_EQ(STATUS_MORE_PROCESSING_REQUIRED,
                          cl.send(session_setup_ext(buf_bytes(again))).status());
                vnb_buf_free(&again);
            }
        }
    }
}

TEST_F(FakeSession, TreeWithoutUsersChecksEmptyPassword)
{
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[{"name":"media"}]})"));
    c.negotiate();
    EXPECT_EQ(STATUS_LOGON_FAILURE, c.logon("anyone", "something").status());
    Client d;
    d.negotiate();
    Reply r = d.logon("anyone", "");
    EXPECT_EQ(0u, r.status());
    EXPECT_EQ(1, r.word(2));
}

TEST_F(FakeSession, OddSecondLegsAndBadFirstLegs)
{
    c.negotiate();
    // A first leg that is neither NTLMSSP nor a negTokenInit naming it.
    Reply bad = c.send(session_setup_ext({0x30, 0x03, 0x02, 0x01, 0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, bad.status());
    EXPECT_EQ(0, bad.wc());
    // A second leg that carries no AUTHENTICATE message logs on as guest.
    ByteBuffer t1{};
    vnb_ntlm_build_type1(&t1);
    ASSERT_EQ(STATUS_MORE_PROCESSING_REQUIRED, c.send(session_setup_ext(buf_bytes(t1))).status());
    Reply r = c.send(session_setup_ext(buf_bytes(t1), 0x4001));
    vnb_buf_free(&t1);
    EXPECT_EQ(0u, r.status());
    EXPECT_EQ(1, r.word(2));
    // SecurityBlobLength beyond the bytes, the basic form after an extended
    // NEGOTIATE, and no NEGOTIATE at all.
    Req lying = session_setup_ext({'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 1, 0, 0, 0});
    lying.words[14] = 0xFF;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(lying).status());
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(session_setup_basic({}, {}, "", "")).status());
    ASSERT_EQ(0, vnb_fake_load(kTree));
    ByteBuffer t1b{};
    vnb_ntlm_build_type1(&t1b);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(session_setup_ext(buf_bytes(t1b))).status());
    vnb_buf_free(&t1b);
}

// Basic-security logons: responses computed by the client's builder against
// the NEGOTIATE challenge.
struct BasicCase {
    const char *what;
    const char *user;
    const char *domain;
    const char *pass;
    uint16_t flags2;
    uint32_t status;
    uint16_t action;
};

TEST_F(FakeSession, BasicLogons)
{
    const BasicCase cases[] = {
        {"8-bit strings", "bob", "", "secret", kOemFlags2, 0, 0},
        {"UTF-16 strings", "bob", "", "secret", kUnicodeFlags2, 0, 0},
        {"with a domain", "bob", "WORKGROUP", "secret", kOemFlags2, 0, 0},
        {"user in another case", "Bob", "", "secret", kOemFlags2, 0, 0},
        {"wrong password", "bob", "", "wrong", kOemFlags2, STATUS_LOGON_FAILURE, 0},
        {"unknown user", "eve", "", "secret", kOemFlags2, STATUS_LOGON_FAILURE, 0},
        {"anonymous", "", "", "", kOemFlags2, 0, 1},
        {"user without responses", "bob", "", "", kOemFlags2, STATUS_LOGON_FAILURE, 0},
    };
    ASSERT_EQ(0, vnb_fake_fault("no_extsec", 1));
    const uint8_t challenge[8] = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};
    for (const BasicCase &tc : cases) {
        SCOPED_TRACE(tc.what);
        Client cl;
        cl.flags2 = tc.flags2;
        ASSERT_EQ(8, cl.negotiate().msg[66]);
        Bytes lm, nt;
        if (*tc.pass) {
            uint8_t lmv2[24];
            uint8_t key[16];
            ByteBuffer ntv2{};
            // The response is computed for the right password and the given user.
            ASSERT_EQ(0, vnb_ntlm_v2_responses(tc.domain, tc.user, tc.pass, challenge, 1700000000, lmv2, &ntv2,
                                               key));
            lm.assign(lmv2, lmv2 + 24);
            nt = buf_bytes(ntv2);
            vnb_buf_free(&ntv2);
        }
        Reply r = cl.send(session_setup_basic(lm, nt, tc.user, tc.domain, tc.flags2));
        EXPECT_EQ(tc.status, r.status());
        if (tc.status == 0) {
            ASSERT_EQ(3, r.wc());
            EXPECT_EQ(tc.action, r.word(2));
            EXPECT_EQ(0x4001, r.uid());
        }
    }
}

TEST_F(FakeSession, ClientWithoutStatus32GetsDosErrors)
{
    // Like Samba: from a SESSION_SETUP without CAP_STATUS32 on, replies carry
    // no NT status bit and DOS-form statuses (class in the first byte, code in
    // the upper half), its own reply included.
    ASSERT_EQ(0, vnb_fake_fault("no_extsec", 1));
    const uint8_t challenge[8] = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};
    struct Case {
        const char *what;
        uint32_t caps;
        const char *pass;
        uint32_t status;
        bool nt_form;
    } cases[] = {
        {"CAP_STATUS32, logged on", 0x1054, "secret", 0, true},
        {"CAP_STATUS32, wrong password", 0x1054, "wrong", STATUS_LOGON_FAILURE, true},
        {"no CAP_STATUS32, logged on", 0x0004, "secret", 0, false},
        {"no CAP_STATUS32, wrong password: ERRSRV/ERRbadpw", 0x0004, "wrong", 0x00020002, false},
    };
    for (const Case &tc : cases) {
        SCOPED_TRACE(tc.what);
        Client cl;
        cl.flags2 = kOemFlags2;
        ASSERT_EQ(8, cl.negotiate().msg[66]);
        uint8_t lmv2[24];
        uint8_t key[16];
        ByteBuffer ntv2{};
        ASSERT_EQ(0, vnb_ntlm_v2_responses("", "bob", tc.pass, challenge, 1700000000, lmv2, &ntv2, key));
        Bytes nt = buf_bytes(ntv2);
        vnb_buf_free(&ntv2);
        Reply r = cl.send(session_setup_basic(Bytes(lmv2, lmv2 + 24), nt, "bob", "", kOemFlags2, tc.caps));
        EXPECT_EQ(tc.status, r.status());
        EXPECT_EQ(tc.nt_form, (r.flags2() & 0x4000) != 0);
        if (tc.status == 0) {
            // Later replies keep the form: a share that does not exist.
            Reply t = cl.send(tree_connect_req("\\\\fake\\Nowhere", 0x000C, false));
            EXPECT_EQ(tc.nt_form ? STATUS_BAD_NETWORK_NAME : 0x00060002u, t.status());
            EXPECT_EQ(tc.nt_form, (t.flags2() & 0x4000) != 0);
        }
    }
}

TEST_F(FakeSession, BasicLogonRejectsMalformedResponses)
{
    ASSERT_EQ(0, vnb_fake_fault("no_extsec", 1));
    c.flags2 = kOemFlags2;
    c.negotiate();
    Bytes short_nt(24, 0x11);  // an NTLMv1 response, while NTLMv1 is off
    EXPECT_EQ(STATUS_LOGON_FAILURE, c.send(session_setup_basic(Bytes(24, 0), short_nt, "bob", "")).status());
    Bytes odd_nt(30, 0x11);    // neither NTLMv1 nor NTLMv2
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(session_setup_basic(Bytes(24, 0), odd_nt, "bob", "")).status());
    Bytes not_v2(60, 0);       // no 01 01 blob header
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(session_setup_basic(Bytes(24, 0), not_v2, "bob", "")).status());
    Req lying = session_setup_basic(Bytes(24, 0), Bytes(60, 0), "bob", "");
    lying.words[16] = 0xF0;    // UnicodePasswordLength beyond the bytes
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(lying).status());
}

TEST_F(FakeSession, LogoffEndsTheSession)
{
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, c.send(logoff_req()).status());
    c.negotiate();
    ASSERT_EQ(0u, c.logon("bob", "secret").status());
    uint16_t tid = c.connect("media");
    uint16_t fid = c.open(tid, "a.txt", false);
    ASSERT_NE(0, fid);
    Reply off = c.send(logoff_req());
    EXPECT_EQ(0u, off.status());
    EXPECT_EQ(2, off.wc());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(close_req(tid, fid)).status());
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, c.send(tree_connect_req("\\\\fake\\media")).status());
}

TEST_F(FakeSession, RepliesEchoTheRequestHeader)
{
    c.negotiate();
    c.logon("bob", "secret");
    Req req = tree_connect_req("\\\\fake\\media");
    req.pid = 0xBEEF;
    req.uid = 0x4001;
    req.mid = 0x1357;
    Bytes m = build(req);
    m[12] = 0x22;  // PIDHigh
    Reply r = exchange(m);
    EXPECT_EQ(0xBEEF, r.pid());
    EXPECT_EQ(0x22, r16(r.msg, 12));
    EXPECT_EQ(0x4001, r.uid());
    EXPECT_EQ(0x1357, r.mid());
    EXPECT_EQ(1, r.tid());
    EXPECT_EQ(0x80, r.msg[9] & 0x80);
}

TEST_F(FakeSession, UnknownCommandIsNotSupported)
{
    c.negotiate();
    Reply r = c.send(Req{.cmd = 0x2B, .words = W{}.u16(1).b, .bytes = {1, 2}});  // ECHO
    EXPECT_EQ(STATUS_REQUEST_NOT_SUPPORTED, r.status());
    EXPECT_EQ(0, r.wc());
    EXPECT_EQ(35u, r.msg.size());
}

// ---- signing ----

class FakeSigning : public FakeSession {
protected:
    void SetUp() override
    {
        FakeSession::SetUp();
        ASSERT_EQ(0, vnb_fake_fault("sign_required", 1));
    }
};

TEST_F(FakeSigning, ExtendedLogonSignsWithTheSessionKey)
{
    Reply neg = c.negotiate();
    EXPECT_EQ(0x0F, neg.msg[35]);
    EXPECT_EQ(0, neg.flags2() & 0x0004);
    Reply fin = c.logon("bob", "secret");
    ASSERT_EQ(0u, fin.status());
    EXPECT_NE(0, fin.flags2() & 0x0004);
    c.start_signing(fin, c.session_key);

    // The signature is MD5(key || message with the sequence number in the
    // signature field), cut to 8 bytes.
    Reply tc = c.send(tree_connect_req("\\\\fake\\media"));  // request 2, reply 3
    ASSERT_EQ(0u, tc.status());
    Bytes m = tc.msg;
    Bytes sig(m.begin() + 14, m.begin() + 22);
    Bytes seq3 = {3, 0, 0, 0, 0, 0, 0, 0};
    std::copy(seq3.begin(), seq3.end(), m.begin() + 14);
    Bytes keyed = c.session_key;
    keyed.insert(keyed.end(), m.begin(), m.end());
    uint8_t md5[16];
    vnb_md5(keyed.data(), keyed.size(), md5);
    EXPECT_EQ(Bytes(md5, md5 + 8), sig);

    uint16_t fid = c.open(tc.tid(), "a.txt", false);  // 4 and 5
    EXPECT_NE(0, fid);
    EXPECT_EQ(6u, c.seq);
}

TEST_F(FakeSigning, WronglySignedRequestIsRefused)
{
    c.negotiate();
    Reply fin = c.logon("bob", "secret");
    c.start_signing(fin, c.session_key);
    uint16_t tid = c.connect("media");

    struct {
        const char *what;
        void (*spoil)(Bytes &);
    } cases[] = {
        {"signature byte flipped", [](Bytes &m) { m[20] ^= 1; }},
        {"unsigned", [](Bytes &m) { std::fill(m.begin() + 14, m.begin() + 22, 0); }},
        {"body changed after signing", [](Bytes &m) { m.back() ^= 0x40; }},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.what);
        Req req = nt_create_req(tid, "a.txt", false);
        req.uid = c.uid;
        req.mid = ++c.mid;
        Bytes m = build(req);
        vnb_sign_frame(c.mac_key.data(), c.mac_key.size(), c.seq, m.data(), m.size());
        tc.spoil(m);
        Reply r = exchange(m);
        EXPECT_EQ(STATUS_ACCESS_DENIED, r.status());
        // The refusal is signed, and the sequence moved on as for any request.
        EXPECT_EQ(1, vnb_sign_verify(c.mac_key.data(), c.mac_key.size(), c.seq + 1, r.msg.data(), r.msg.size()));
        c.seq += 2;
    }
    EXPECT_EQ(0u, c.send(nt_create_req(tid, "a.txt", false)).status());
    // A request signed with a stale sequence number is refused too.
    c.seq -= 2;
    Req req = nt_create_req(tid, "a.txt", false);
    req.uid = c.uid;
    Bytes m = build(req);
    vnb_sign_frame(c.mac_key.data(), c.mac_key.size(), c.seq, m.data(), m.size());
    EXPECT_EQ(STATUS_ACCESS_DENIED, exchange(m).status());
}

TEST_F(FakeSigning, GuestSessionIsNotSigned)
{
    c.negotiate();
    Reply fin = c.logon("", "");
    ASSERT_EQ(0u, fin.status());
    EXPECT_EQ(0, fin.flags2() & 0x0004);
    Reply tc = c.send(tree_connect_req("\\\\fake\\media"));
    EXPECT_EQ(0u, tc.status());
    EXPECT_EQ(0, tc.flags2() & 0x0004);
    EXPECT_EQ(Bytes(8, 0), tc.slice(14, 8));
}

TEST_F(FakeSigning, BasicLogonKeyIsSessionKeyAndNtResponse)
{
    ASSERT_EQ(0, vnb_fake_fault("no_extsec", 1));
    c.flags2 = kOemFlags2;
    c.negotiate();
    const uint8_t challenge[8] = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};
    uint8_t lmv2[24];
    uint8_t key[16];
    ByteBuffer ntv2{};
    ASSERT_EQ(0, vnb_ntlm_v2_responses("", "bob", "secret", challenge, 1700000000, lmv2, &ntv2, key));
    Bytes nt = buf_bytes(ntv2);
    vnb_buf_free(&ntv2);
    Reply fin = c.send(session_setup_basic(Bytes(lmv2, lmv2 + 24), nt, "bob", ""));
    ASSERT_EQ(0u, fin.status());
    Bytes mac(key, key + 16);
    mac.insert(mac.end(), nt.begin(), nt.end());
    c.start_signing(fin, mac);
    EXPECT_EQ(0u, c.send(tree_connect_req("\\\\fake\\media", 0, false)).status());
}

TEST_F(FakeSigning, NegotiateStartsAFreshConnection)
{
    c.negotiate();
    Reply fin = c.logon("bob", "secret");
    c.start_signing(fin, c.session_key);
    c.connect("media");
    // A new NEGOTIATE (a reconnect) drops the session and its signing state.
    Client again;
    EXPECT_EQ(0u, again.negotiate().status());
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, again.send(tree_connect_req("\\\\fake\\media")).status());
    Reply fin2 = again.logon("bob", "secret");
    again.start_signing(fin2, again.session_key);
    EXPECT_EQ(0u, again.send(tree_connect_req("\\\\fake\\media")).status());
}

}  // namespace
