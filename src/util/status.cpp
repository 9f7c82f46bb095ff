#include "util/status.h"

#include <array>

namespace {

struct NtEntry {
    uint32_t status;
    const char *name;
    int32_t code;
};

constexpr std::array<NtEntry, 25> kNtTable{{
    {STATUS_SUCCESS, "SUCCESS", 0},
    {STATUS_BUFFER_OVERFLOW, "BUFFER_OVERFLOW", 0},
    {STATUS_NO_MORE_FILES, "NO_MORE_FILES", 0},
    {STATUS_UNSUCCESSFUL, "UNSUCCESSFUL", -2},
    {STATUS_INVALID_HANDLE, "INVALID_HANDLE", -5},
    {STATUS_INVALID_PARAMETER, "INVALID_PARAMETER", -2},
    {STATUS_END_OF_FILE, "END_OF_FILE", 0},
    {STATUS_MORE_PROCESSING_REQUIRED, "MORE_PROCESSING_REQUIRED", 0},
    {STATUS_ACCESS_DENIED, "ACCESS_DENIED", -3},
    {STATUS_OBJECT_NAME_NOT_FOUND, "OBJECT_NAME_NOT_FOUND", -4},
    {STATUS_OBJECT_NAME_COLLISION, "OBJECT_NAME_COLLISION", -2},
    {STATUS_OBJECT_PATH_NOT_FOUND, "OBJECT_PATH_NOT_FOUND", -4},
    {STATUS_NO_SUCH_USER, "NO_SUCH_USER", -3},
    {STATUS_LOGON_FAILURE, "LOGON_FAILURE", -3},
    {STATUS_PASSWORD_EXPIRED, "PASSWORD_EXPIRED", -3},
    {STATUS_ACCOUNT_DISABLED, "ACCOUNT_DISABLED", -3},
    {STATUS_INSUFFICIENT_RESOURCES, "INSUFFICIENT_RESOURCES", -2},
    {STATUS_REQUEST_NOT_SUPPORTED, "REQUEST_NOT_SUPPORTED", -8},
    {STATUS_FILE_IS_A_DIRECTORY, "FILE_IS_A_DIRECTORY", -6},
    {STATUS_NOT_SUPPORTED, "NOT_SUPPORTED", -8},
    {STATUS_NAME_NOT_FOUND, "NAME_NOT_FOUND", -4},
    {STATUS_BAD_NETWORK_NAME, "BAD_NETWORK_NAME", -4},
    {STATUS_NOT_A_DIRECTORY, "NOT_A_DIRECTORY", -6},
    {STATUS_LOGON_TYPE_NOT_GRANTED, "LOGON_TYPE_NOT_GRANTED", -3},
    {STATUS_USER_SESSION_DELETED, "USER_SESSION_DELETED", -5},
}};

// DOS-form rows: a code of -1 is the "any other code of this class" row.
struct DosEntry {
    uint8_t err_class;
    int code;
    const char *name;
    int32_t result;
};

constexpr int kAnyCode = -1;

constexpr std::array<DosEntry, 17> kDosTable{{
    {0, 0, "SUCCESS", 0},
    {0, kAnyCode, "SUCCESS", -2},
    {1, 1, "ERRbadfunc", -2},
    {1, 2, "ERRbadfile", -4},
    {1, 3, "ERRbadpath", -2},
    {1, 5, "ERRaccess", -3},
    {1, 6, "ERRbadpath", -4},
    {1, 32, "ERRshare", -2},
    {1, kAnyCode, "ERRDOS", -2},
    {2, 1, "ERRnosupport", -8},
    {2, 4, "ERRaccess", -3},
    {2, 5, "ERRbaduid", -5},
    {2, 231, "ERRerror", -2},
    {2, kAnyCode, "ERRSRV", -2},
    {3, kAnyCode, "ERRhrd", -1},
    {227, 193, "ERRsharing", -7},
    {227, kAnyCode, "ERRxos", -7},
}};

constexpr DosEntry kDosUnknown{0, kAnyCode, "UNKNOWN", -2};

const NtEntry *find_nt(uint32_t status)
{
    for (const NtEntry &e : kNtTable)
        if (e.status == status)
            return &e;
    return nullptr;
}

// Exact (class, code) rows come before the class's catch-all row.
const DosEntry &find_dos(uint32_t status)
{
    const uint8_t err_class = static_cast<uint8_t>(status & 0xff);
    const int code = static_cast<int>((status >> 8) & 0xff);
    for (const DosEntry &e : kDosTable)
        if (e.err_class == err_class && (e.code == code || e.code == kAnyCode))
            return e;
    return kDosUnknown;
}

}  // namespace

int32_t st_map_nt(uint32_t status)
{
    const NtEntry *e = find_nt(status);
    return e ? e->code : -2;
}

int32_t vnb_status_code(uint32_t status, int is_nt)
{
    return is_nt ? st_map_nt(status) : find_dos(status).result;
}

const char *vnb_status_name(uint32_t status)
{
    if (const NtEntry *e = find_nt(status))
        return e->name;
    return find_dos(status).name;
}
