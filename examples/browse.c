/* Lists a folder of the example media library, reads from a file and asks the
 * request handler for a listing, through the exported C interface only. Run it
 * from the repository root: it loads examples/media-library.json. */
#include <stdio.h>
#include <stdlib.h>
#include <vnsmb1c.h>

static char *slurp(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    rewind(f);
    char *text = calloc(1, (size_t)n + 1);
    if (text && fread(text, 1, (size_t)n, f) != (size_t)n) {
        free(text);
        text = NULL;
    }
    fclose(f);
    return text;
}

int main(void)
{
    char *tree = slurp("examples/media-library.json");
    /* For a real server leave out vnsmb1c_use_fake and connect to its name. */
    int loaded = vnsmb1c_use_fake(tree);
    free(tree);
    if (loaded != 0) {
        fprintf(stderr, "%s\n", vnsmb1c_last_error());
        return 1;
    }
    if (vnsmb1c_connect("fake", 0, "", "media", "popcorn") != 0) {
        fprintf(stderr, "%s\n", vnsmb1c_last_error());
        return 1;
    }
    int n = vnsmb1c_list("Media/Movies", NULL);
    for (int i = 0; i < n; i++) {
        vnsmb1c_Entry e;
        if (vnsmb1c_entry(i, &e) == 0)
            printf("%-6s %10lld  %s\n", e.folder ? "folder" : "file", (long long)e.size, e.path);
    }

    int h = vnsmb1c_open("Media/Movies", "Sintel (2010).srt");
    unsigned char buf[4096];
    int got = h > 0 ? vnsmb1c_read_at(h, 0, buf, sizeof buf) : h;
    printf("size %lld, first read %d bytes\n", (long long)vnsmb1c_size(h), got);
    vnsmb1c_close(h);
    vnsmb1c_disconnect();

    /* The request handler as a host calls it. */
    char reply[65536];
    const vnsmb1c_RequestHandler *rch = vnrch_get();
    int rc = rch->list(NULL, "{\"FullUrl\":\"smb://fake\"}", "Media/Music", reply, sizeof reply);
    printf("%d %s\n", rc, reply);
    return 0;
}
