// The walk over the links of a chained reply, and the readers of the
// links it finds: the input is the reply message.
#include "fuzz_input.h"
#include "sess/andx_chain.h"
#include "sess/tree_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> msg(data, size);
    AndxLink links[kMaxAndxLinks];
    int32_t n = andx_links(msg, links);
    FUZZ_CHECK(n == -2 || (n >= 1 && n <= static_cast<int32_t>(kMaxAndxLinks)));
    size_t end = 0;
    for (int32_t i = 0; i < n; i++) {
        const AndxLink &l = links[i];
        // Each link lies inside the message, after the one before it.
        FUZZ_CHECK(l.at >= end && l.at < size);
        FUZZ_CHECK(l.bytes_at == l.at + 1 + 2 * size_t{l.word_count} + 2);
        FUZZ_CHECK(l.bytes_at + l.byte_count <= size);
        end = l.bytes_at + l.byte_count;
        std::span<const uint8_t> got;
        if (l.command == smb::READ_ANDX) {
            int32_t rc = read_reply_data(msg, kMaxReadChunk, got, l.at);
            FUZZ_CHECK(rc == 0 || rc == -2);
            FUZZ_CHECK(got.empty() || got.data() + got.size() <= msg.data() + msg.size());
        } else if (l.command == smb::NT_CREATE_ANDX) {
            uint32_t fid = 0;
            uint64_t eof = 0;
            int64_t mtime = 0;
            int32_t rc = create_reply_read(msg, &fid, &eof, &mtime, l.at);
            FUZZ_CHECK(rc == 0 || rc == -2);
        }
    }
    return 0;
}
