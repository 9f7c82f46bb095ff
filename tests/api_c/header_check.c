/* Compiled as C: the public header must be usable without C++. */
#include <stdio.h>
#include <string.h>

#include "vnsmb1c.h"

int main(void)
{
    if (strcmp(vnsmb1c_version(), "1.0.1") != 0) {
        fprintf(stderr, "version %s\n", vnsmb1c_version());
        return 1;
    }
    if (strcmp(vnsmb1c_strerror(VNSMB1C_EOF), "end of file") != 0)
        return 1;
    if (strcmp(vnsmb1c_status_name(0xC000006Du), "LOGON_FAILURE") != 0)
        return 1;
    if (vnsmb1c_selftest() != 0)
        return 1;
    /* The listing record, from C: nothing is listed yet. */
    vnsmb1c_Entry entry = {7, 7, NULL, NULL, 0, 0};
    if (vnsmb1c_entry(0, &entry) != VNSMB1C_EINVAL || entry.size != 7 || entry.name != NULL)
        return 1;
    if (vnsmb1c_s_entry(vnsmb1c_default_session(), 0, NULL) != VNSMB1C_EINVAL)
        return 1;
    printf("ok\n");
    return 0;
}
