// Calls the request-handler table the way a host does: through its function
// pointers, with buffers the caller owns, on the library's fake server.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>
#include <string>

#include "api/fake_session.h"
#include "api/session_ops.h"
#include "support/heap_text.h"
#include "vnsmb1c.h"

inline constexpr const char *kAlice = R"({"HostName":"fake","UserName":"alice","Password":"pw"})";

struct Reply {
    int code = 0;
    std::string text;  // what the buffer holds ("" when nothing was written)
};

inline constexpr int kReplyCap = 1 << 16;
inline constexpr char kUntouched = 'Z';

// The buffer is filled with kUntouched first, so an untouched buffer reads
// back as "" and a written one as the NUL-terminated reply.
template <typename Call>
Reply call_into(int32_t capacity, Call call)
{
    std::string buffer(kReplyCap, kUntouched);
    Reply r;
    r.code = call(buffer.data(), capacity);
    if (buffer[0] != kUntouched)
        r.text = buffer.c_str();
    return r;
}

inline Reply rch_validate(const char *settings, int32_t capacity = kReplyCap,
                          const vnsmb1c_HostIo *io = nullptr)
{
    return call_into(capacity, [&](char *out, int32_t cap) { return vnrch_get()->validate(io, settings, out, cap); });
}

inline Reply rch_list(const char *settings, const char *path, int32_t capacity = kReplyCap)
{
    return call_into(capacity,
                     [&](char *out, int32_t cap) { return vnrch_get()->list(nullptr, settings, path, out, cap); });
}

inline Reply rch_stream(const char *settings, const char *entry, int32_t capacity = kReplyCap)
{
    return call_into(capacity,
                     [&](char *out, int32_t cap) { return vnrch_get()->stream(nullptr, settings, entry, out, cap); });
}

// {"error":text}, escaped as JSON wants.
inline std::string err_doc(const std::string &text)
{
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    w.Key("error");
    w.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    w.EndObject();
    return sb.GetString();
}

// Every request leaves the selection and the C interface's own session as
// it found them.
class RequestHandler : public ::testing::Test {
protected:
    virtual const char *tree() const { return kMediaTree; }
    void SetUp() override
    {
        ASSERT_EQ(vnsmb1c_use_fake(tree()), 0) << vnsmb1c_last_error();
        remember_selection();
    }
    void TearDown() override { vnsmb1c_use_sockets(); }
    void remember_selection()
    {
        TransportChoice c = vnb_selected_transport();
        mode_ = c.mode;
        io_ = c.io;
        established_ = vnb_default_session().established;
    }
    void expect_scope_closed(const char *what) const
    {
        TransportChoice c = vnb_selected_transport();
        EXPECT_EQ(c.mode, mode_) << what;
        EXPECT_EQ(c.io, io_) << what;
        EXPECT_EQ(vnb_default_session().established, established_) << what;
    }
    static int64_t negotiations() { return vnsmb1c_fake_calls(kCmdNegotiate); }

    int32_t mode_ = -1;
    const vnsmb1c_HostIo *io_ = nullptr;
    int32_t established_ = 0;
};
