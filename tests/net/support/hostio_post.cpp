#include "net/support/hostio_post.h"

#include <gtest/gtest.h>

PostResult post(const vnsmb1c_HostIo *io, const char *url, const char *body, bool want_error)
{
    PostResult r;
    char sentinel = 0;
    char *out_body = &sentinel;  // must come back NULL unless there is a reply
    char *out_error = nullptr;
    r.rc = io->http_post(io->context, url, body, "application/x-smb1-nbss+base64", &out_body, &r.status,
                         want_error ? &out_error : nullptr);
    EXPECT_NE(out_body, &sentinel);
    if (out_body) {
        r.body = out_body;
        io->free(io->context, out_body);
    }
    if (out_error) {
        r.error = out_error;
        io->free(io->context, out_error);
    }
    return r;
}

void expect_get_refused(const vnsmb1c_HostIo *io)
{
    char sentinel = 0;
    char *body = &sentinel;
    char *error = nullptr;
    long status = kUntouchedStatus;
    EXPECT_EQ(io->get(io->context, "smbrpc://h:445/frame", &body, &status, &error), -1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(status, kUntouchedStatus);
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, "smbrpc transport: GET is not used");
    io->free(io->context, error);
    body = &sentinel;
    EXPECT_EQ(io->get(io->context, nullptr, &body, &status, nullptr), -1);
    EXPECT_EQ(body, nullptr);
}
