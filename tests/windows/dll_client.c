/* A host program of the plainest kind, built against the DLL and its import
 * library with nothing but vnsmb1c.h: it logs on, lists a folder, finds a
 * file in the listing and copies it to a local file.
 *
 *   dll_client HOST PORT USER PASSWORD FOLDER FILE OUT
 *
 * FOLDER is share-qualified ("public/videos"); it prints the listing's size
 * and the bytes copied, and exits 0 only when the copy has the size the
 * server reported. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vnsmb1c.h"

enum { kChunk = 1 << 20 };

static int fail(const char *what)
{
    fprintf(stderr, "dll_client: %s: %s\n", what, vnsmb1c_last_error());
    return 1;
}

static int listed(int count, const char *file)
{
    char quoted[600];
    snprintf(quoted, sizeof quoted, "\"name\":\"%s\"", file);
    for (int i = 0; i < count; i++)
        if (strstr(vnsmb1c_item_json(i), quoted) != NULL)
            return 1;
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 8) {
        fprintf(stderr, "usage: dll_client HOST PORT USER PASSWORD FOLDER FILE OUT\n");
        return 2;
    }
    const char *folder = argv[5];
    const char *file = argv[6];
    if (vnsmb1c_connect(argv[1], atoi(argv[2]), "", argv[3], argv[4]) != 0)
        return fail("connect");

    int count = vnsmb1c_list(folder, NULL);
    if (count < 0)
        return fail("list");
    printf("%d items in %s\n", count, folder);
    if (!listed(count, file)) {
        fprintf(stderr, "dll_client: %s is not in the listing\n", file);
        return 1;
    }

    int h = vnsmb1c_open(folder, file);
    if (h <= 0)
        return fail("open");
    int64_t size = vnsmb1c_size(h);
    FILE *out = fopen(argv[7], "wb");
    unsigned char *buf = malloc(kChunk);
    if (out == NULL || buf == NULL) {
        fprintf(stderr, "dll_client: cannot write %s\n", argv[7]);
        return 1;
    }
    int64_t done = 0;
    for (;;) {
        int n = vnsmb1c_read_at(h, done, buf, kChunk);
        if (n < 0) {
            fclose(out);
            return fail("read");
        }
        if (n <= 0)
            break;
        if (fwrite(buf, 1, (size_t)n, out) != (size_t)n) {
            fprintf(stderr, "dll_client: cannot write %s\n", argv[7]);
            return 1;
        }
        done += n;
    }
    free(buf);
    vnsmb1c_close(h);
    vnsmb1c_disconnect();
    if (fclose(out) != 0)
        return 1;
    printf("copied %lld of %lld bytes\n", (long long)done, (long long)size);
    return done == size ? 0 : 1;
}
