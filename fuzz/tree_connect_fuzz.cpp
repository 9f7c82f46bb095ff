// The client's reader of a TREE_CONNECT_ANDX reply: the input is the reply
// message.
#include <memory>

#include "fuzz_input.h"
#include "sess/tree_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto s = std::make_unique<Session>();
    uint32_t tid = 0xFFFFFFFF;
    int32_t rc = tree_connect_reply(*s, {data, size}, "Media", &tid);
    FUZZ_CHECK(rc <= 0);
    FUZZ_CHECK(rc == 0 ? tid != 0 && tid <= 0xFFFF : tid == 0);
    return 0;
}
