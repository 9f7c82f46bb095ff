// Fault switches and the request counters that tests read back.
#include <cstring>

#include "fake/fake_internal.h"

namespace {

struct FaultName {
    const char *name;
    int32_t FakeFaults::*field;
};

constexpr FaultName kFaults[] = {
    {"sign_required", &FakeFaults::sign_required},
    {"refuse_nt1", &FakeFaults::refuse_nt1},
    {"garbage", &FakeFaults::garbage},
    {"logon_fail", &FakeFaults::logon_fail},
    {"no_ipc", &FakeFaults::no_ipc},
    {"no_extsec", &FakeFaults::no_extsec},
    {"no_unicode", &FakeFaults::no_unicode},
    {"page", &FakeFaults::page},
    {"find_chain", &FakeFaults::find_chain},
    {"find_ignore_resume", &FakeFaults::find_ignore_resume},
    {"find_split", &FakeFaults::find_split},
    {"split_fault", &FakeFaults::split_fault},
    {"upper_shares", &FakeFaults::upper_shares},
    {"no_large_read", &FakeFaults::no_large_read},
    {"max_mpx", &FakeFaults::max_mpx},
    {"reorder", &FakeFaults::reorder},
    {"read_cap", &FakeFaults::read_cap},
    {"drop_at", &FakeFaults::drop_at},
    {"forget_session", &FakeFaults::forget_session},
    {"dos_errors", &FakeFaults::dos_errors},
    {"plaintext", &FakeFaults::plaintext},
    {"share_level", &FakeFaults::share_level},
    {"ntlm_v1", &FakeFaults::ntlm_v1},
    {"ntlm_ess", &FakeFaults::ntlm_ess},
    {"nbss_refuse_name", &FakeFaults::nbss_refuse_name},
    {"nbss_required", &FakeFaults::nbss_required},
    {"no_srvsvc", &FakeFaults::no_srvsvc},
    {"no_rap", &FakeFaults::no_rap},
    {"no_path_info", &FakeFaults::no_path_info},
    {"silent_leave", &FakeFaults::silent_leave},
    {"no_chain", &FakeFaults::no_chain},
    {"chain_fault", &FakeFaults::chain_fault},
};

}  // namespace

int vnb_fake_fault(const char *name, int32_t value)
{
    if (!name)
        return -1;
    if (strcmp(name, "reset_counts") == 0) {
        memset(F.calls, 0, sizeof F.calls);
        F.writes = 0;
        return 0;
    }
    for (const FaultName &f : kFaults) {
        if (strcmp(name, f.name) == 0) {
            F.faults.*f.field = value;
            return 0;
        }
    }
    return -1;
}

int64_t vnb_fake_count(uint32_t command)
{
    if (command > 255)
        return -1;
    return static_cast<int64_t>(F.calls[command]);
}

uint64_t vnb_fake_writes()
{
    return F.writes;
}

bool vnb_fake_drop_due()
{
    if (F.faults.drop_at <= 0)
        return false;
    return --F.faults.drop_at == 0;
}
