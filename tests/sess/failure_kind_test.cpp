// What a failed exchange does to the session follows the kind of failure the
// transport reports, never the wording of its text.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "fake/fake.h"
#include "net/msg_transport.h"
#include "sess/exchange.h"
#include "sess/lifecycle.h"
#include "sess/session.h"
#include "sess/support/sess_fixture.h"
#include "sess/tree_file.h"
#include "util/error.h"

namespace {

constexpr const char *kTree =
    R"({"shares":[{"name":"Media","root":[]}],"users":[{"name":"alice","pass":"pw"}]})";

// The fake server's transport, whose next recv can be made to fail with a
// chosen code, text and kind.
class FailingTransport final : public MsgTransport {
public:
    FailingTransport() : inner_(sp::fake_transport()) {}
    int32_t open(const char *host, int port, int timeout_ms) override { return inner_->open(host, port, timeout_ms); }
    int32_t send(std::span<const uint8_t> msg) override { return inner_->send(msg); }
    int32_t recv(ByteBuffer &msg, int timeout_ms) override
    {
        if (!fail_next_)
            return inner_->recv(msg, timeout_ms);
        fail_next_ = false;
        return vnb_fail(-1, "%s", text_.c_str());
    }
    void close() override { inner_->close(); }
    bool pipelines() const override { return inner_->pipelines(); }
    Failure failure() const override { return kind_; }

    void fail_next(const char *text, Failure kind)
    {
        fail_next_ = true;
        text_ = text;
        kind_ = kind;
    }

private:
    std::unique_ptr<MsgTransport> inner_;
    bool fail_next_ = false;
    std::string text_;
    Failure kind_ = Failure::none;
};

struct Case {
    const char *text;
    Failure kind;
    bool retried_in_call;
};

class FailureKind : public ::testing::TestWithParam<Case> {};

TEST_P(FailureKind, DecidesWhatTheSessionDoes)
{
    ASSERT_EQ(vnb_fake_load(kTree), 0);
    Session s;
    auto transport = std::make_unique<FailingTransport>();
    FailingTransport *t = transport.get();
    s.transport = std::move(transport);
    std::strcpy(s.host, "fake");
    std::strcpy(s.user, "alice");
    std::strcpy(s.password, "pw");
    ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();

    t->fail_next(GetParam().text, GetParam().kind);
    uint32_t tid = 0;
    EXPECT_EQ(vnb_tree_find_or_connect(s, "Media", &tid), -1);
    EXPECT_TRUE(s.broken);
    EXPECT_EQ(s.broken_by, GetParam().kind);
    EXPECT_EQ(sess_may_retry_in_call(s), GetParam().retried_in_call);
    // Whatever the text said, the next call connects again at once.
    EXPECT_EQ(sess_reconnect(s), 0) << vnb_error();
    EXPECT_EQ(vnb_tree_find_or_connect(s, "Media", &tid), 0) << vnb_error();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FailureKind,
    ::testing::Values(Case{"connection closed by the peer", Failure::timed_out, false},
                      Case{"timed out: no reply from the server in time", Failure::closed, true},
                      Case{"timed out: no reply within 200 ms", Failure::broken, true},
                      Case{"anything at all", Failure::timed_out, false}));

}  // namespace
