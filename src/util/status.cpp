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

// DOS-form rows: a code of kAnyCode is the "any other code of this class"
// row, which follows the class's own rows.
struct DosEntry {
    uint8_t err_class;
    int32_t code;
    const char *name;
    int32_t result;
};

constexpr int32_t kAnyCode = -1;

// The error classes and codes servers without NT statuses answer with.
// Names are those of the CIFS documents; the two 227 rows are an OS/2 class
// some servers still use.
constexpr DosEntry kDosTable[] = {
    {kErrClassSuccess, 0, "SUCCESS", 0},
    {kErrClassSuccess, kAnyCode, "SUCCESS", -2},

    {kErrClassDos, 1, "ERRbadfunc", -2},
    {kErrClassDos, 2, "ERRbadfile", -4},
    {kErrClassDos, 3, "ERRbadpath", -4},
    {kErrClassDos, 4, "ERRnofids", -7},
    {kErrClassDos, 5, "ERRnoaccess", -3},
    {kErrClassDos, 6, "ERRbadfid", -5},
    {kErrClassDos, 7, "ERRbadmcb", -2},
    {kErrClassDos, 8, "ERRnomem", -2},
    {kErrClassDos, 9, "ERRbadmem", -2},
    {kErrClassDos, 10, "ERRbadenv", -2},
    {kErrClassDos, 11, "ERRbadformat", -2},
    {kErrClassDos, 12, "ERRbadaccess", -2},
    {kErrClassDos, 13, "ERRbaddata", -2},
    {kErrClassDos, 15, "ERRbaddrive", -4},
    {kErrClassDos, 16, "ERRremcd", -2},
    {kErrClassDos, 17, "ERRdiffdevice", -2},
    {kErrClassDos, 18, "ERRnofiles", 0},
    {kErrClassDos, 31, "ERRgeneral", -2},
    {kErrClassDos, 32, "ERRbadshare", -2},
    {kErrClassDos, 33, "ERRlock", -2},
    {kErrClassDos, 38, "ERReof", 0},
    {kErrClassDos, 50, "ERRunsup", -8},
    {kErrClassDos, 67, "ERRnosuchshare", -4},  // ERROR_BAD_NET_NAME, as Samba and Windows send a missing share
    {kErrClassDos, 80, "ERRfilexists", -2},
    {kErrClassDos, 87, "ERRinvalidparam", -2},
    {kErrClassDos, 123, "ERRinvalidname", -2},
    {kErrClassDos, 124, "ERRunknownlevel", -8},
    {kErrClassDos, 131, "ERRinvalidseek", -2},
    {kErrClassDos, 183, "ERRrename", -2},
    {kErrClassDos, 230, "ERRbadpipe", -2},
    {kErrClassDos, 231, "ERRpipebusy", -2},
    {kErrClassDos, 232, "ERRpipeclosing", -2},
    {kErrClassDos, 233, "ERRnotconnected", -2},
    {kErrClassDos, 234, "ERRmoredata", 0},
    {kErrClassDos, 255, "ERRbadealist", -2},
    {kErrClassDos, 267, "ERRbaddirectory", -6},
    {kErrClassDos, 275, "ERReasdidntfit", -2},
    {kErrClassDos, 282, "ERReasnotsupported", -8},
    {kErrClassDos, 994, "ERReaaccessdenied", -3},
    {kErrClassDos, 1022, "ERRnotifyenumdir", -2},
    {kErrClassDos, kAnyCode, "ERRDOS", -2},

    {kErrClassSrv, 1, "ERRerror", -2},
    {kErrClassSrv, 2, "ERRbadpw", -3},
    {kErrClassSrv, 4, "ERRaccess", -3},
    {kErrClassSrv, 5, "ERRinvtid", -5},
    {kErrClassSrv, 6, "ERRinvnetname", -4},
    {kErrClassSrv, 7, "ERRinvdevice", -4},
    {kErrClassSrv, 49, "ERRqfull", -2},
    {kErrClassSrv, 50, "ERRqtoobig", -2},
    {kErrClassSrv, 51, "ERRqeof", -2},
    {kErrClassSrv, 52, "ERRinvpfid", -2},
    {kErrClassSrv, 64, "ERRsmbcmd", -8},
    {kErrClassSrv, 65, "ERRsrverror", -2},
    {kErrClassSrv, 67, "ERRfilespecs", -2},
    {kErrClassSrv, 69, "ERRbadpermits", -2},
    {kErrClassSrv, 71, "ERRsetattrmode", -2},
    {kErrClassSrv, 81, "ERRpaused", -2},
    {kErrClassSrv, 82, "ERRmsgoff", -2},
    {kErrClassSrv, 83, "ERRnoroom", -2},
    {kErrClassSrv, 87, "ERRrmuns", -7},
    {kErrClassSrv, 88, "ERRtimeout", -2},
    {kErrClassSrv, 89, "ERRnoresource", -7},
    {kErrClassSrv, 90, "ERRtoomanyuids", -7},
    {kErrClassSrv, 91, "ERRbaduid", -5},
    {kErrClassSrv, 250, "ERRusempx", -8},
    {kErrClassSrv, 251, "ERRusestd", -8},
    {kErrClassSrv, 252, "ERRcontmpx", -2},
    {kErrClassSrv, 2239, "ERRaccountExpired", -3},
    {kErrClassSrv, 2240, "ERRbadClient", -3},
    {kErrClassSrv, 2241, "ERRbadLogonTime", -3},
    {kErrClassSrv, 2242, "ERRpasswordExpired", -3},
    {kErrClassSrv, 0xFFFF, "ERRnosupport", -8},
    {kErrClassSrv, kAnyCode, "ERRSRV", -2},

    {kErrClassHrd, 19, "ERRnowrite", -2},
    {kErrClassHrd, 20, "ERRbadunit", -2},
    {kErrClassHrd, 21, "ERRnotready", -2},
    {kErrClassHrd, 22, "ERRbadcmd", -2},
    {kErrClassHrd, 23, "ERRdata", -2},
    {kErrClassHrd, 24, "ERRbadreq", -2},
    {kErrClassHrd, 25, "ERRseek", -2},
    {kErrClassHrd, 26, "ERRbadmedia", -2},
    {kErrClassHrd, 27, "ERRbadsector", -2},
    {kErrClassHrd, 28, "ERRnopaper", -2},
    {kErrClassHrd, 29, "ERRwrite", -2},
    {kErrClassHrd, 30, "ERRread", -2},
    {kErrClassHrd, 31, "ERRgeneral", -2},
    {kErrClassHrd, 32, "ERRbadshare", -2},
    {kErrClassHrd, 33, "ERRlock", -2},
    {kErrClassHrd, 34, "ERRwrongdisk", -2},
    {kErrClassHrd, 35, "ERRFCBUnavail", -2},
    {kErrClassHrd, 36, "ERRsharebufexc", -2},
    {kErrClassHrd, 39, "ERRdiskfull", -2},
    {kErrClassHrd, kAnyCode, "ERRhrd", -2},

    {kErrClassCmd, kAnyCode, "ERRCMD", -2},

    {227, 193, "ERRsharing", -7},
    {227, kAnyCode, "ERRxos", -7},
};

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
    const uint8_t err_class = dos_class(status);
    const int32_t code = dos_code(status);
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
