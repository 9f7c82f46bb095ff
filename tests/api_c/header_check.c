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
    printf("ok\n");
    return 0;
}
