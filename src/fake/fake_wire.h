// SMB1 wire constants the fake server reads and writes: command codes, header
// offsets, flag bits and the few NT statuses that util/status.h does not name.
#pragma once

#include <cstddef>
#include <cstdint>

namespace smb {

// Header layout (offsets from the 0xFF of the protocol signature).
inline constexpr size_t kHeaderLen = 32;
inline constexpr size_t kOffCommand = 4;
inline constexpr size_t kOffStatus = 5;
inline constexpr size_t kOffFlags = 9;
inline constexpr size_t kOffFlags2 = 10;
inline constexpr size_t kOffPidHigh = 12;
inline constexpr size_t kOffSignature = 14;
inline constexpr size_t kOffTid = 24;
inline constexpr size_t kOffPid = 26;
inline constexpr size_t kOffUid = 28;
inline constexpr size_t kOffMid = 30;
inline constexpr size_t kOffWordCount = 32;
inline constexpr size_t kOffWords = 33;

inline constexpr uint8_t kFlagsReply = 0x90;  // reply, canonicalised paths

inline constexpr uint16_t kFlags2LongNames = 0x0001;
inline constexpr uint16_t kFlags2Signature = 0x0004;
inline constexpr uint16_t kFlags2ExtSecurity = 0x0800;
inline constexpr uint16_t kFlags2NtStatus = 0x4000;
inline constexpr uint16_t kFlags2Unicode = 0x8000;

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
    TRANS2_SET_PATH_INFORMATION = 0x0006,
    TRANS2_SET_FILE_INFORMATION = 0x0008,
    TRANS2_CREATE_DIRECTORY = 0x000D,
};

inline constexpr uint16_t kTransactNmPipe = 0x0026;

// FIND_FIRST2 / FIND_NEXT2 Flags.
inline constexpr uint16_t kFindCloseAfterRequest = 0x0001;
inline constexpr uint16_t kFindCloseAtEos = 0x0002;
inline constexpr uint16_t kFindContinueFromLast = 0x0008;
inline constexpr uint16_t kFindFileBothDirectoryInfo = 0x0104;

// NEGOTIATE Capabilities and SecurityMode bits.
inline constexpr uint32_t kCapRawMode = 0x00000001;
inline constexpr uint32_t kCapUnicode = 0x00000004;
inline constexpr uint32_t kCapLargeFiles = 0x00000008;
inline constexpr uint32_t kCapNtSmbs = 0x00000010;
inline constexpr uint32_t kCapRpcRemoteApis = 0x00000020;
inline constexpr uint32_t kCapStatus32 = 0x00000040;
inline constexpr uint32_t kCapNtFind = 0x00000200;
inline constexpr uint32_t kCapExtendedSecurity = 0x80000000;
inline constexpr uint8_t kSecUserLevel = 0x01;
inline constexpr uint8_t kSecEncryptPasswords = 0x02;
inline constexpr uint8_t kSecSignaturesEnabled = 0x04;
inline constexpr uint8_t kSecSignaturesRequired = 0x08;

// TREE_CONNECT_ANDX Flags bit asking for the extended response.
inline constexpr uint16_t kTreeExtendedResponse = 0x0008;

// NT statuses the fake server answers with that util/status.h leaves out.
inline constexpr uint32_t kStatusNoSuchFile = 0xC000000F;
inline constexpr uint32_t kStatusPipeEmpty = 0xC00000D9;

// FILETIME of Unix time 1700000000, the server's clock.
inline constexpr uint64_t kServerFiletime = 0x01DA1747C66D0000ULL;

}  // namespace smb
