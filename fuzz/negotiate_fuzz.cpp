// The client's reader of a NEGOTIATE reply: the input is the reply message,
// header included, read into a fresh session.
#include <memory>

#include "fuzz_input.h"
#include "sess/logon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto s = std::make_unique<Session>();
    int32_t rc = negotiate_reply_read(*s, {data, size});
    FUZZ_CHECK(rc <= 0);
    if (rc == 0) {
        FUZZ_CHECK(s->negotiated == 1);
        FUZZ_CHECK(s->neg_blob_len <= sizeof s->neg_blob);
        FUZZ_CHECK(s->max_buffer >= 1024);
        FUZZ_CHECK(s->dialect_index <= 10);
        FUZZ_CHECK(s->ext_security || s->flags2 != 0);
    }
    return 0;
}
