// The SMB1 wire module: FILETIME conversion, the DOS form of statuses and the
// hidden-name rule.
#include <gtest/gtest.h>

#include "util/smb1_wire.h"

namespace {

using namespace smb;

TEST(Smb1Wire, FiletimeFromUnix)
{
    struct {
        int64_t unix_seconds;
        uint64_t filetime;
    } cases[] = {
        {0, 116444736000000000ULL},
        {1700000000, 0x01DA1747C66D0000ULL},
        {-11644473600, 0},                  // 1601-01-01
        {1, 116444736010000000ULL},
        {-1, 116444735990000000ULL},
    };
    for (const auto &tc : cases) {
        EXPECT_EQ(tc.filetime, filetime_from_unix(tc.unix_seconds)) << tc.unix_seconds;
        EXPECT_EQ(tc.unix_seconds, unix_from_filetime(tc.filetime)) << tc.unix_seconds;
    }
    static_assert(filetime_from_unix(1700000000) == 0x01DA1747C66D0000ULL);
}

TEST(Smb1Wire, UnixFromFiletimeDropsFractionsAndKeepsZeroUnset)
{
    EXPECT_EQ(1700000000, unix_from_filetime(0x01DA1747C66D0000ULL + 9999999));
    EXPECT_EQ(1700000000000, unix_ms_from_filetime(0x01DA1747C66D0000ULL + 5000000));
    EXPECT_EQ(-1, unix_ms_from_filetime(0));
    EXPECT_EQ(-11644473599000, unix_ms_from_filetime(kFiletimePerSecond));
    // The largest FILETIME stays within the signed range.
    EXPECT_EQ(1844674407370 - 11644473600, unix_from_filetime(UINT64_MAX));
}

TEST(Smb1Wire, DosForms)
{
    struct {
        uint32_t nt;
        uint32_t dos;
    } cases[] = {
        {STATUS_SUCCESS, 0},
        {STATUS_NO_MORE_FILES, 0x00120001},         // ERRDOS/ERRnofiles
        {STATUS_OBJECT_NAME_NOT_FOUND, 0x00020001},  // ERRDOS/ERRbadfile
        {STATUS_ACCESS_DENIED, 0x00050001},
        {STATUS_BUFFER_OVERFLOW, 0x00EA0001},        // ERRDOS/ERRmoredata
        {STATUS_LOGON_FAILURE, 0x00020002},          // ERRSRV/ERRbadpw
        {STATUS_USER_SESSION_DELETED, 0x005B0002},   // ERRSRV/ERRbaduid
        {STATUS_NOT_SUPPORTED, 0xFFFF0002},          // ERRSRV/ERRnosupport
        {kStatusInvalidLevel, 0x007C0001},           // ERRDOS/ERRunknownlevel
        {STATUS_REQUEST_NOT_SUPPORTED, 0x00010002},  // no closer match: ERRSRV/ERRerror
        {kStatusPipeEmpty, 0x00010002},
    };
    for (const auto &tc : cases)
        EXPECT_EQ(tc.dos, dos_form(tc.nt)) << std::hex << tc.nt;
}

TEST(Smb1Wire, HiddenNames)
{
    struct {
        const char *name;
        bool hidden;
    } cases[] = {
        {"$RECYCLE.BIN", true}, {".git", true},  {"@eaDir", true},    {".", true},
        {"movie.mkv", false},   {"a$b", false},  {" .x", false},      {"", false},
        {"Ä", false},
    };
    for (const auto &tc : cases)
        EXPECT_EQ(tc.hidden, is_hidden_name(tc.name)) << tc.name;
}

}  // namespace
