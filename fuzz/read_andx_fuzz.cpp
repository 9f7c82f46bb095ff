// The client's reader of a READ_ANDX reply: the first three input bytes are
// the count asked for (up to the large-read chunk), the rest is the reply
// message.
#include "fuzz_input.h"
#include "sess/tree_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    uint32_t asked = (uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16) % (kLargeReadChunk + 1);
    const std::span<const uint8_t> msg(data + 3, size - 3);
    std::span<const uint8_t> got;
    int32_t rc = read_reply_data(msg, asked, got);
    FUZZ_CHECK(rc == 0 || rc == -2);
    if (rc == 0) {
        FUZZ_CHECK(got.size() <= asked);
        FUZZ_CHECK(got.empty() || (got.data() >= msg.data() + smb::kHeaderLen + 1 &&
                                   got.data() + got.size() <= msg.data() + msg.size()));
    } else {
        FUZZ_CHECK(got.empty());
    }
    return 0;
}
