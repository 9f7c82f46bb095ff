// The settings JSON of vnsmb1c_connect_json, read without connecting.
#include "api/connect.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto text = fuzz_text(data, size);
    ConnectSettings s;
    int32_t rc = read_settings(text.get(), &s);
    FUZZ_CHECK(rc == 0 || rc == -6 || rc == -11);
    if (rc == 0) {
        FUZZ_CHECK(terminated_within(s.host, sizeof s.host) && s.host[0] != '\0');
        FUZZ_CHECK(s.port >= 0 && s.port <= 65535);
        FUZZ_CHECK(terminated_within(s.domain, sizeof s.domain));
        FUZZ_CHECK(terminated_within(s.user, sizeof s.user));
        FUZZ_CHECK(terminated_within(s.password, sizeof s.password));
        FUZZ_CHECK(terminated_within(s.path, sizeof s.path));
        FUZZ_CHECK(s.local_port >= 0);
    }
    return 0;
}
