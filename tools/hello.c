/* Prints the library version and the result of its built-in self-test. */
#include <stdio.h>

#include "vnsmb1c.h"

int main(void)
{
    int rc = vnsmb1c_selftest();
    printf("vnsmb1c %s\n", vnsmb1c_version());
    if (rc == 0) {
        printf("selftest: ok\n");
        return 0;
    }
    printf("selftest: %s (%s)\n", vnsmb1c_strerror(rc), vnsmb1c_last_error());
    return 1;
}
