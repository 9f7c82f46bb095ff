// SMB1 status values: their ResultCode class and their short names. Shared by
// the client engine and the fake server.
#pragma once

#include <cstdint>

// NT status names/values the library itself uses on the wire.
enum : uint32_t {
    STATUS_SUCCESS = 0x00000000,
    STATUS_BUFFER_OVERFLOW = 0x80000005,
    STATUS_NO_MORE_FILES = 0x80000006,
    STATUS_UNSUCCESSFUL = 0xC0000001,
    STATUS_INVALID_HANDLE = 0xC0000008,
    STATUS_INVALID_PARAMETER = 0xC000000D,
    STATUS_END_OF_FILE = 0xC0000011,
    STATUS_MORE_PROCESSING_REQUIRED = 0xC0000016,
    STATUS_ACCESS_DENIED = 0xC0000022,
    STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034,
    STATUS_OBJECT_NAME_COLLISION = 0xC0000035,
    STATUS_OBJECT_PATH_NOT_FOUND = 0xC000003A,
    STATUS_NO_SUCH_USER = 0xC0000064,
    STATUS_LOGON_FAILURE = 0xC000006D,
    STATUS_PASSWORD_EXPIRED = 0xC0000071,
    STATUS_ACCOUNT_DISABLED = 0xC0000072,
    STATUS_INSUFFICIENT_RESOURCES = 0xC000009A,
    STATUS_REQUEST_NOT_SUPPORTED = 0xC00000A0,
    STATUS_FILE_IS_A_DIRECTORY = 0xC00000BA,
    STATUS_NOT_SUPPORTED = 0xC00000BB,
    STATUS_NAME_NOT_FOUND = 0xC00000C0,
    STATUS_BAD_NETWORK_NAME = 0xC00000CC,
    STATUS_NOT_A_DIRECTORY = 0xC0000103,
    STATUS_LOGON_TYPE_NOT_GRANTED = 0xC000015B,
    STATUS_USER_SESSION_DELETED = 0xC0000203,
};

// The DOS form of a status, as servers without NT statuses send it: the
// error class in the first byte of the status field, the code in its upper
// half (the second byte is reserved).
enum : uint8_t {
    kErrClassSuccess = 0x00,
    kErrClassDos = 0x01,  // ERRDOS: the operating system's errors
    kErrClassSrv = 0x02,  // ERRSRV: the file server's own
    kErrClassHrd = 0x03,  // ERRHRD: the disk's
    kErrClassCmd = 0xFF,  // ERRCMD: not an SMB request at all
};

constexpr uint32_t dos_status(uint8_t err_class, uint16_t code)
{
    return err_class | (uint32_t{code} << 16);
}
constexpr uint8_t dos_class(uint32_t status)
{
    return static_cast<uint8_t>(status & 0xFF);
}
constexpr uint16_t dos_code(uint32_t status)
{
    return static_cast<uint16_t>(status >> 16);
}

// ResultCode of a status: the NT table when is_nt, else the DOS-form reading
// (class = bits 0-7, code = bits 16-31).
int32_t vnb_status_code(uint32_t status, int is_nt);
// The NT column alone; statuses outside the table are -2.
int32_t st_map_nt(uint32_t status);
// Constant name, never NULL: the NT name when the value is in the NT table,
// otherwise the name of its DOS-form reading ("ERRbadpw", "ERRbadfile").
const char *vnb_status_name(uint32_t status);
