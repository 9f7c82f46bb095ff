// SMB1 wire constants shared by the client engine and the fake server:
// header layout, command codes, flag and capability bits, the statuses that
// util/status.h leaves out and the DOS forms of NT statuses, FILETIME
// conversion and the hidden-name rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "util/status.h"

namespace smb {

// ---- header ----

inline constexpr uint8_t kProtocol[4] = {0xFF, 'S', 'M', 'B'};

// Header layout (offsets from the 0xFF of the protocol signature).
inline constexpr size_t kHeaderLen = 32;
inline constexpr size_t kOffCommand = 4;
inline constexpr size_t kOffStatus = 5;
inline constexpr size_t kOffFlags = 9;
inline constexpr size_t kOffFlags2 = 10;
inline constexpr size_t kOffPidHigh = 12;
inline constexpr size_t kOffSignature = 14;
inline constexpr size_t kSignatureLen = 8;
inline constexpr size_t kOffTid = 24;
inline constexpr size_t kOffPid = 26;
inline constexpr size_t kOffUid = 28;
inline constexpr size_t kOffMid = 30;
inline constexpr size_t kOffWordCount = 32;
inline constexpr size_t kOffWords = 33;

// Flags.
inline constexpr uint8_t kFlagsCaseless = 0x08;
inline constexpr uint8_t kFlagsCanonicalPaths = 0x10;
inline constexpr uint8_t kFlagsReplyBit = 0x80;
inline constexpr uint8_t kFlagsRequest = kFlagsCaseless | kFlagsCanonicalPaths;
inline constexpr uint8_t kFlagsReply = kFlagsReplyBit | kFlagsCanonicalPaths;

// Flags2.
inline constexpr uint16_t kFlags2LongNames = 0x0001;
inline constexpr uint16_t kFlags2Signature = 0x0004;
inline constexpr uint16_t kFlags2ExtSecurity = 0x0800;
inline constexpr uint16_t kFlags2NtStatus = 0x4000;
inline constexpr uint16_t kFlags2Unicode = 0x8000;

// ---- commands ----

enum Command : uint8_t {
    CREATE_DIRECTORY = 0x00,
    DELETE_DIRECTORY = 0x01,
    CREATE = 0x03,
    CLOSE = 0x04,
    DELETE = 0x06,
    RENAME = 0x07,
    SET_INFORMATION = 0x09,
    WRITE = 0x0B,
    CREATE_TEMPORARY = 0x0E,
    CREATE_NEW = 0x0F,
    WRITE_AND_UNLOCK = 0x13,
    WRITE_RAW = 0x1D,
    WRITE_MPX = 0x1E,
    WRITE_COMPLETE = 0x20,
    SET_INFORMATION2 = 0x22,
    TRANSACTION = 0x25,
    READ_ANDX = 0x2E,
    WRITE_ANDX = 0x2F,
    TRANSACTION2 = 0x32,
    FIND_CLOSE2 = 0x34,
    TREE_DISCONNECT = 0x71,
    NEGOTIATE = 0x72,
    SESSION_SETUP_ANDX = 0x73,
    LOGOFF_ANDX = 0x74,
    TREE_CONNECT_ANDX = 0x75,
    NT_CREATE_ANDX = 0xA2,
    NT_RENAME = 0xA5,
    WRITE_PRINT_FILE = 0xC1,
};

enum Trans2 : uint16_t {
    TRANS2_FIND_FIRST2 = 0x0001,
    TRANS2_FIND_NEXT2 = 0x0002,
    TRANS2_SET_FS_INFORMATION = 0x0004,
    TRANS2_QUERY_PATH_INFORMATION = 0x0005,
    TRANS2_SET_PATH_INFORMATION = 0x0006,
    TRANS2_SET_FILE_INFORMATION = 0x0008,
    TRANS2_CREATE_DIRECTORY = 0x000D,
};

// TRANSACTION on \PIPE\: the TransactNmPipe function.
inline constexpr uint16_t kTransactNmPipe = 0x0026;

// ---- NEGOTIATE and SESSION_SETUP ----

// Capabilities.
inline constexpr uint32_t kCapRawMode = 0x00000001;
inline constexpr uint32_t kCapUnicode = 0x00000004;
inline constexpr uint32_t kCapLargeFiles = 0x00000008;
inline constexpr uint32_t kCapNtSmbs = 0x00000010;
inline constexpr uint32_t kCapRpcRemoteApis = 0x00000020;
inline constexpr uint32_t kCapStatus32 = 0x00000040;
inline constexpr uint32_t kCapNtFind = 0x00000200;
inline constexpr uint32_t kCapLargeReadX = 0x00004000;
inline constexpr uint32_t kCapLargeWriteX = 0x00008000;
inline constexpr uint32_t kCapExtendedSecurity = 0x80000000;

// SecurityMode.
inline constexpr uint8_t kSecUserLevel = 0x01;
inline constexpr uint8_t kSecEncryptPasswords = 0x02;
inline constexpr uint8_t kSecSignaturesEnabled = 0x04;
inline constexpr uint8_t kSecSignaturesRequired = 0x08;

// TREE_CONNECT_ANDX Flags bit asking for the extended response.
inline constexpr uint16_t kTreeExtendedResponse = 0x0008;

// ---- folder searches ----

// FIND_FIRST2 / FIND_NEXT2 Flags.
inline constexpr uint16_t kFindCloseAfterRequest = 0x0001;
inline constexpr uint16_t kFindCloseAtEos = 0x0002;
inline constexpr uint16_t kFindContinueFromLast = 0x0008;
// Information level SMB_FIND_FILE_BOTH_DIRECTORY_INFO and the fixed part of
// one of its entries (the name follows).
inline constexpr uint16_t kFindFileBothDirectoryInfo = 0x0104;
inline constexpr size_t kFindBothDirectoryInfoFixed = 94;

// ---- one path's attributes ----

// QUERY_PATH_INFORMATION level SMB_QUERY_FILE_ALL_INFO: times, attributes,
// sizes, then counts and the name. The offsets its readers need, and the
// bytes up to the end of EndOfFile.
inline constexpr uint16_t kQueryFileAllInfo = 0x0107;
inline constexpr size_t kAllInfoLastWrite = 16;
inline constexpr size_t kAllInfoAttributes = 32;
inline constexpr size_t kAllInfoEndOfFile = 48;
inline constexpr size_t kAllInfoLeast = 56;

// File attributes.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// ---- statuses ----

// NT statuses on the wire that util/status.h does not name.
inline constexpr uint32_t kStatusPending = 0x00000103;
inline constexpr uint32_t kStatusInfoLengthMismatch = 0xC0000004;
inline constexpr uint32_t kStatusNoSuchFile = 0xC000000F;
inline constexpr uint32_t kStatusPipeEmpty = 0xC00000D9;
inline constexpr uint32_t kStatusNotImplemented = 0xC0000002;
inline constexpr uint32_t kStatusInvalidLevel = 0xC0000148;

// The DOS form a server without 32-bit statuses sends for an NT status, as
// Samba maps them; 0 for an NT status that has none here.
constexpr uint32_t dos_equivalent(uint32_t nt)
{
    struct DosForm {
        uint32_t nt;
        uint8_t err_class;
        uint16_t code;
    };
    constexpr DosForm kForms[] = {
        {STATUS_BUFFER_OVERFLOW, kErrClassDos, 234},           // ERRmoredata
        {STATUS_MORE_PROCESSING_REQUIRED, kErrClassDos, 234},
        {STATUS_NO_MORE_FILES, kErrClassDos, 18},              // ERRnofiles
        {kStatusNoSuchFile, kErrClassDos, 2},                  // ERRbadfile
        {STATUS_OBJECT_NAME_NOT_FOUND, kErrClassDos, 2},
        {STATUS_OBJECT_PATH_NOT_FOUND, kErrClassDos, 3},       // ERRbadpath
        {STATUS_ACCESS_DENIED, kErrClassDos, 5},               // ERRnoaccess
        {STATUS_INVALID_HANDLE, kErrClassDos, 6},              // ERRbadfid
        {STATUS_END_OF_FILE, kErrClassDos, 38},                // ERReof
        {STATUS_INVALID_PARAMETER, kErrClassDos, 87},          // ERRinvalidparam
        {STATUS_NOT_A_DIRECTORY, kErrClassDos, 267},           // ERRbaddirectory
        {STATUS_LOGON_FAILURE, kErrClassSrv, 2},               // ERRbadpw
        {STATUS_NO_SUCH_USER, kErrClassSrv, 2},
        {STATUS_BAD_NETWORK_NAME, kErrClassSrv, 6},            // ERRinvnetname
        {STATUS_USER_SESSION_DELETED, kErrClassSrv, 91},       // ERRbaduid
        {STATUS_NOT_SUPPORTED, kErrClassSrv, 0xFFFF},          // ERRnosupport
        {kStatusInvalidLevel, kErrClassDos, 124},              // ERRunknownlevel
    };
    for (const DosForm &f : kForms)
        if (f.nt == nt)
            return dos_status(f.err_class, f.code);
    return 0;
}

// The DOS form of an NT status; ERRSRV/ERRerror for one without a closer
// match.
constexpr uint32_t dos_form(uint32_t nt)
{
    if (nt == STATUS_SUCCESS)
        return 0;
    uint32_t dos = dos_equivalent(nt);
    return dos != 0 ? dos : dos_status(kErrClassSrv, 1);
}

// Whether a reply's status says what the NT status nt says: that value in
// NT form, or its DOS equivalent in DOS form.
constexpr bool status_means(uint32_t status, bool is_nt, uint32_t nt)
{
    if (is_nt)
        return status == nt;
    return nt == STATUS_SUCCESS ? status == 0 : status != 0 && status == dos_equivalent(nt);
}

// ---- FILETIME ----

// FILETIME counts 100 ns units since 1601-01-01 (UTC).
inline constexpr uint64_t kFiletimePerSecond = 10000000;
inline constexpr int64_t kFiletimeEpochToUnix = 11644473600;  // seconds from 1601 to 1970

// Seconds since 1970 as a FILETIME (wrapping modulo 2^64 for times before 1601).
constexpr uint64_t filetime_from_unix(int64_t unix_seconds)
{
    return (static_cast<uint64_t>(unix_seconds) + static_cast<uint64_t>(kFiletimeEpochToUnix)) *
           kFiletimePerSecond;
}

// Whole seconds since 1970 of a FILETIME (negative before 1970).
constexpr int64_t unix_from_filetime(uint64_t filetime)
{
    return static_cast<int64_t>(filetime / kFiletimePerSecond) - kFiletimeEpochToUnix;
}

// Milliseconds since 1970 at whole-second precision; -1 for a FILETIME of 0
// (a time the server did not set).
constexpr int64_t unix_ms_from_filetime(uint64_t filetime)
{
    return filetime == 0 ? -1 : unix_from_filetime(filetime) * 1000;
}

// ---- names ----

// Entries whose names begin with '$', '.' or '@' are hidden from listings.
constexpr bool is_hidden_name(std::string_view name)
{
    return !name.empty() && (name[0] == '$' || name[0] == '.' || name[0] == '@');
}

}  // namespace smb
