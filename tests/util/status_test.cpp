#include <gtest/gtest.h>

#include <string>

#include "util/status.h"
#include "vnsmb1c.h"

namespace {

struct StatusCase {
    uint32_t status;
    int is_nt;
    int32_t code;
    const char *name;
};

TEST(StatusCodes, TableRows)
{
    const StatusCase cases[] = {
        {0x00000000, 1, 0, "SUCCESS"},
        {0x00000000, 0, 0, "SUCCESS"},
        {0x80000005, 1, 0, "BUFFER_OVERFLOW"},
        {0x80000006, 1, 0, "NO_MORE_FILES"},
        {0xC0000008, 1, -5, "INVALID_HANDLE"},
        {0xC0000011, 1, 0, "END_OF_FILE"},
        {0xC0000016, 1, 0, "MORE_PROCESSING_REQUIRED"},
        {0xC0000022, 1, -3, "ACCESS_DENIED"},
        {0xC0000034, 1, -4, "OBJECT_NAME_NOT_FOUND"},
        {0xC000006D, 1, -3, "LOGON_FAILURE"},
        {0xC00000A0, 1, -8, "REQUEST_NOT_SUPPORTED"},
        {0xC00000BB, 1, -8, "NOT_SUPPORTED"},
        {0xC00000CC, 1, -4, "BAD_NETWORK_NAME"},
        {0xC000015B, 1, -3, "LOGON_TYPE_NOT_GRANTED"},
        {0xC0000203, 1, -5, "USER_SESSION_DELETED"},
        // NT values outside the table: -2, and the name of their DOS reading.
        {0xC0000043, 1, -2, "UNKNOWN"},
        {0xC0000901, 1, -2, "ERRDOS"},
        // DOS form: class in the low byte, code in the second byte.
        {0x0201, 0, -4, "ERRbadfile"},
        {0x0601, 0, -4, "ERRbadpath"},
        {0x0301, 0, -2, "ERRbadpath"},
        {0x0501, 0, -3, "ERRaccess"},
        {0x2001, 0, -2, "ERRshare"},
        {0x0101, 0, -2, "ERRbadfunc"},
        {0x00020001, 0, -2, "ERRDOS"},  // upper half ignored: class 1, code 0
        {0x0102, 0, -8, "ERRnosupport"},
        {0x0402, 0, -3, "ERRaccess"},
        {0x0502, 0, -5, "ERRbaduid"},
        {0xE702, 0, -2, "ERRerror"},
        {0x0902, 0, -2, "ERRSRV"},
        {0x0003, 0, -1, "ERRhrd"},
        {0x1F03, 0, -1, "ERRhrd"},
        {0xC1E3, 0, -7, "ERRsharing"},
        {0x01E3, 0, -7, "ERRxos"},
        {0x0500, 0, -2, "SUCCESS"},      // class 0 with a code
        {0x0104, 0, -2, "UNKNOWN"},
    };
    for (const StatusCase &c : cases) {
        EXPECT_EQ(vnb_status_code(c.status, c.is_nt), c.code) << std::hex << c.status;
        EXPECT_STREQ(vnb_status_name(c.status), c.name) << std::hex << c.status;
        EXPECT_STREQ(vnsmb1c_status_name(c.status), c.name) << std::hex << c.status;
    }
}

TEST(StatusCodes, SessionSetupMapping)
{
    EXPECT_EQ(st_map_nt(STATUS_LOGON_FAILURE), -3);
    EXPECT_EQ(st_map_nt(STATUS_ACCESS_DENIED), -3);
    EXPECT_EQ(st_map_nt(0xC0000999), -2);
    EXPECT_EQ(st_map_nt(0x0201), -2);  // DOS-looking values are not NT table rows
}

TEST(StatusCodes, NamesAreNeverNull)
{
    for (uint32_t s : {0u, 1u, 0xFFFFFFFFu, 0x12345678u, 0xC00000FFu, 0xFFu, 0xFF00u})
        EXPECT_NE(vnb_status_name(s), nullptr);
}

}  // namespace
