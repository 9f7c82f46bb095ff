// Shared parts of the "SMBCIFS" request handler: the per-request scope (a
// session of its own: settings, connect, disconnect), the reply copy and the
// error document.
#pragma once

#include <cstdint>
#include <string_view>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api/session_pool.h"
#include "sess/session.h"
#include "util/json.h"
#include "vnsmb1c.h"

// Result codes of the handler's operations.
enum : int {
    kRchOk = 0,
    kRchAuth = -1,
    kRchNotFound = -2,
    kRchNetwork = -4,
    kRchInternal = -5,
    kRchUnsupported = -6,
    kRchBadRequest = -8,
    kRchTooSmall = -9,
};

// Compact writer that refuses text that is not UTF-8.
using RchWriter = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                    rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;

inline constexpr unsigned kRchParseFlags = rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;

// The handler code for a library result code.
int rch_code(int result);

// Copies the whole text with its NUL, or nothing; true when copied.
bool rch_copy(std::string_view text, char *out, int32_t capacity);

// Writes {"error":text} ("error" for NULL) when it fits; returns code.
int put_err(int code, const char *text, char *out, int32_t capacity);

// One request's session, taken from the host tables' pool or connected for
// it, and the host and port it was asked to reach.
struct RchScope {
    SessionLease lease;
    char host[256] = "";
    int32_t port = 0;

    Session &s() { return lease.s(); }
    const Session &s() const { return lease.s(); }
    // Runs op on the session (see SessionLease::run): its result.
    int32_t run(const SessionLease::Op &op) { return lease.run(op); }
};

// Reads the settings and takes a session for them. 0: a session is held;
// otherwise the error document is written and nothing is held.
int h_setup(RchScope &scope, const vnsmb1c_HostIo *io, const char *settings, char *out, int32_t capacity);

// Puts the scope's session back into the pool (or logs it off).
void h_teardown(RchScope &scope);

// "smb1://" host [":" port] "/" tail, for the scope's session (an IPv6 host
// in brackets), cut to fit a 2112-byte buffer.
void rch_url(const RchScope &scope, char (&url)[2112], std::string_view tail);

// The first member named key, or NULL (duplicates after it are ignored).
const rapidjson::Value *rch_member(const rapidjson::Value &obj, const char *key);
// The first member named key when it is a string, else NULL.
const rapidjson::Value *rch_string(const rapidjson::Value &obj, const char *key);

// Copies the finished writer output into out; -9 when it does not fit.
inline int rch_reply(const rapidjson::StringBuffer &sb, char *out, int32_t capacity)
{
    return rch_copy(std::string_view(sb.GetString(), sb.GetSize()), out, capacity) ? kRchOk : kRchTooSmall;
}

int h_validate(const vnsmb1c_HostIo *io, const char *settings, char *out, int32_t capacity);
int h_list(const vnsmb1c_HostIo *io, const char *settings, const char *path, char *out, int32_t capacity);
int h_stream(const vnsmb1c_HostIo *io, const char *settings, const char *entry, char *out, int32_t capacity);
int h_download(const vnsmb1c_HostIo *io, const char *settings, const char *entry, char *out, int32_t capacity);
