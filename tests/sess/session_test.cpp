#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "sess/exchange.h"
#include "sess/lifecycle.h"
#include "sess/session.h"
#include "sess/support/script_peer.h"

namespace {

TEST(SessionRecord, TextFieldsHoldTheirLimits)
{
    Session s;
    EXPECT_EQ(sizeof s.host, 256u);
    EXPECT_EQ(sizeof s.domain, 129u);
    EXPECT_EQ(sizeof s.user, 129u);
    EXPECT_EQ(sizeof s.password, 257u);
    EXPECT_EQ(sizeof s.share_names[0], 81u);
    EXPECT_EQ(sizeof s.trees[0].name, 81u);
    EXPECT_EQ(sizeof s.neg_blob, 8192u);
    std::memset(s.host, 'h', 255);
    s.host[255] = '\0';
    EXPECT_EQ(std::strlen(s.host), 255u);
}

TEST(SessionRecord, TableSizes)
{
    Session s;
    EXPECT_EQ(sizeof s.trees / sizeof s.trees[0], 8u);
    EXPECT_EQ(sizeof s.files / sizeof s.files[0], 64u);
    EXPECT_EQ(sizeof s.share_names / sizeof s.share_names[0], 256u);
}

TEST(SessionRecord, StartsEmptyWithTheDefaultTimeOut)
{
    Session s;
    EXPECT_EQ(s.timeout_ms, 30000);
    EXPECT_EQ(s.established, 0);
    EXPECT_EQ(s.host[0], '\0');
    EXPECT_EQ(s.uid, 0u);
    EXPECT_TRUE(s.listing.items.empty());
    EXPECT_EQ(s.transport, nullptr);
}

TEST(SessionRecord, SecretsAreWiped)
{
    Session s;
    std::strcpy(s.password, "secret");
    std::memset(s.signing_key, 0x5A, sizeof s.signing_key);
    std::memset(s.nt_response, 0x11, 64);
    s.nt_response_len = 64;
    std::memset(s.lm_response, 0x22, 24);
    s.lm_response_len = 24;
    s.wipe_secrets();
    EXPECT_EQ(s.password[0], '\0');
    const uint8_t zero[16] = {};
    EXPECT_EQ(std::memcmp(s.signing_key, zero, 16), 0);
    EXPECT_EQ(s.nt_response[0], 0);
    EXPECT_EQ(s.nt_response_len, 0u);
    EXPECT_EQ(s.lm_response[0], 0);
    EXPECT_EQ(s.lm_response_len, 0u);
}

// A session that goes away first leaves its outstanding requests free, and
// a request that goes away first leaves the session's list.
TEST(SessionRecord, RequestsAndTheirSessionMayEndInEitherOrder)
{
    sp::ScriptPeer peer;
    auto req = std::make_unique<SmbRequest>();
    {
        Session s;
        s.transport = sp::transport_for(peer);
        ASSERT_EQ(req_send(s, 0x04, {}, {}, 0, true, *req), 0);
        EXPECT_EQ(req->session, &s);
    }
    EXPECT_EQ(req->session, nullptr);
    req.reset();

    Session s;
    s.transport = sp::transport_for(peer);
    {
        SmbRequest gone;
        ASSERT_EQ(req_send(s, 0x04, {}, {}, 0, true, gone), 0);
        EXPECT_EQ(s.in_flight.size(), 1u);
    }
    EXPECT_TRUE(s.in_flight.empty());
    sess_reset(s);
    EXPECT_EQ(peer.closes, 0) << "a transport never opened is not closed";
}

}  // namespace
