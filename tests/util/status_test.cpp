#include <gtest/gtest.h>

#include <string>

#include "util/smb1_wire.h"
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
        // DOS form: class in the low byte, code in the upper half; the
        // second byte is reserved.
        {0x00020001, 0, -4, "ERRbadfile"},
        {0x00030001, 0, -4, "ERRbadpath"},
        {0x00050001, 0, -3, "ERRnoaccess"},
        {0x00060001, 0, -5, "ERRbadfid"},
        {0x00200001, 0, -2, "ERRbadshare"},
        {0x00010001, 0, -2, "ERRbadfunc"},
        {0x00120001, 0, 0, "ERRnofiles"},
        {0x00260001, 0, 0, "ERReof"},
        {0x00EA0001, 0, 0, "ERRmoredata"},
        {0x007C0001, 0, -8, "ERRunknownlevel"},
        {0x00430001, 0, -4, "ERRnosuchshare"},
        {0x010B0001, 0, -6, "ERRbaddirectory"},
        {0x00000201, 0, -2, "ERRDOS"},  // the reserved byte is no code: class 1, code 0
        {0x12340001, 0, -2, "ERRDOS"},
        {0x00010002, 0, -2, "ERRerror"},
        {0x00020002, 0, -3, "ERRbadpw"},
        {0x00040002, 0, -3, "ERRaccess"},
        {0x00050002, 0, -5, "ERRinvtid"},
        {0x00060002, 0, -4, "ERRinvnetname"},
        {0x005B0002, 0, -5, "ERRbaduid"},
        {0x08BF0002, 0, -3, "ERRaccountExpired"},
        {0x08C20002, 0, -3, "ERRpasswordExpired"},
        {0xFFFF0002, 0, -8, "ERRnosupport"},
        {0x00090002, 0, -2, "ERRSRV"},
        {0x00130003, 0, -2, "ERRnowrite"},
        {0x001E0003, 0, -2, "ERRread"},
        {0x00000003, 0, -2, "ERRhrd"},
        {0x000100FF, 0, -2, "ERRCMD"},
        {0x00C100E3, 0, -7, "ERRsharing"},
        {0x000100E3, 0, -7, "ERRxos"},
        {0x00050000, 0, -2, "SUCCESS"},  // class 0 with a code
        {0x00010004, 0, -2, "UNKNOWN"},
    };
    for (const StatusCase &c : cases) {
        EXPECT_EQ(vnb_status_code(c.status, c.is_nt), c.code) << std::hex << c.status;
        EXPECT_STREQ(vnb_status_name(c.status), c.name) << std::hex << c.status;
        EXPECT_STREQ(vnsmb1c_status_name(c.status), c.name) << std::hex << c.status;
    }
}

// The DOS form a server sends for an NT status means what the NT status
// means: the same ResultCode either way.
TEST(StatusCodes, DosFormsMapLikeTheirNtStatus)
{
    for (uint32_t nt : {STATUS_BUFFER_OVERFLOW, STATUS_MORE_PROCESSING_REQUIRED, STATUS_NO_MORE_FILES,
                        STATUS_OBJECT_NAME_NOT_FOUND, STATUS_OBJECT_PATH_NOT_FOUND, STATUS_ACCESS_DENIED,
                        STATUS_INVALID_HANDLE, STATUS_END_OF_FILE, STATUS_INVALID_PARAMETER, STATUS_NOT_A_DIRECTORY,
                        STATUS_LOGON_FAILURE, STATUS_NO_SUCH_USER, STATUS_BAD_NETWORK_NAME,
                        STATUS_USER_SESSION_DELETED}) {
        uint32_t dos = smb::dos_equivalent(nt);
        ASSERT_NE(dos, 0u) << std::hex << nt;
        EXPECT_EQ(vnb_status_code(dos, 0), st_map_nt(nt)) << std::hex << nt << " as " << dos;
        EXPECT_TRUE(smb::status_means(dos, false, nt)) << std::hex << nt;
        EXPECT_TRUE(smb::status_means(nt, true, nt)) << std::hex << nt;
        EXPECT_FALSE(smb::status_means(dos, true, nt)) << std::hex << nt;
    }
    EXPECT_TRUE(smb::status_means(0, false, STATUS_SUCCESS));
    EXPECT_FALSE(smb::status_means(0, false, STATUS_END_OF_FILE));
    EXPECT_FALSE(smb::status_means(0x00050001, false, STATUS_END_OF_FILE));
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
