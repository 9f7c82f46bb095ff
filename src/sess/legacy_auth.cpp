#include "sess/legacy_auth.h"

#include "util/error.h"
#include "util/text.h"

namespace {

struct LevelName {
    LegacyAuth level;
    const char *name;
};

constexpr LevelName kLevels[] = {
    {LegacyAuth::none, "none"},      {LegacyAuth::none, "ntlmv2"}, {LegacyAuth::none, ""},
    {LegacyAuth::ntlmv1, "ntlmv1"},  {LegacyAuth::lm, "lm"},       {LegacyAuth::plaintext, "plaintext"},
};

}  // namespace

bool vnb_legacy_auth_by_name(const char *name, LegacyAuth *out)
{
    if (name == nullptr || out == nullptr)
        return false;
    for (const LevelName &l : kLevels) {
        if (vnb_casecmp(name, l.name) == 0) {
            *out = l.level;
            return true;
        }
    }
    return false;
}

const char *vnb_legacy_auth_name(LegacyAuth level)
{
    switch (level) {
    case LegacyAuth::ntlmv1: return "ntlmv1";
    case LegacyAuth::lm: return "lm";
    case LegacyAuth::plaintext: return "plaintext";
    default: return "none";
    }
}

const char *vnb_logon_kind_name(LogonKind kind)
{
    switch (kind) {
    case LogonKind::anonymous: return "anonymous";
    case LogonKind::ntlmv2: return "ntlmv2";
    case LogonKind::ntlmv1: return "ntlmv1";
    case LogonKind::ntlmv1_ess: return "ntlmv1-ess";
    case LogonKind::lm: return "lm";
    case LogonKind::plaintext: return "plaintext";
    case LogonKind::share: return "share-level";
    default: return "none";
    }
}

int32_t vnb_legacy_refusal(const char *asked, LegacyAuth needed)
{
    const char *level = vnb_legacy_auth_name(needed);
    return vnb_fail(-8,
                    "the server asks for %s; allow it with the setting \"LegacyAuth\": \"%s\" "
                    "(vnsmb1c --legacy-auth %s)",
                    asked, level, level);
}
