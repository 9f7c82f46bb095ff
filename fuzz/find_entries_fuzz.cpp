// The decoder of a FIND data block: the first two input bytes are the
// SearchCount (bit 15 of which picks 8-bit names), the rest is the block of
// FIND_FILE_BOTH_DIRECTORY_INFO entries.
#include <memory>

#include "fuzz_input.h"
#include "sess/dir_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    uint32_t word = uint32_t{data[0]} | uint32_t{data[1]} << 8;
    auto q = std::make_unique<ListingWork>();
    q->unicode = (word & 0x8000) != 0 ? 0 : 1;
    q->keep_hidden = (word & 0x4000) != 0;
    const uint32_t count = word & 0x3FFF;
    // An empty block is a NULL one, as the transaction reader hands it over.
    const uint8_t *block = size > 2 ? data + 2 : nullptr;
    int parsed = find_parse(block, size - 2, count, q.get());
    FUZZ_CHECK(parsed == -2 || parsed == static_cast<int>(count));
    FUZZ_CHECK(q->entries_seen <= count);
    FUZZ_CHECK(parsed < 0 || q->entries_seen == count);
    FUZZ_CHECK(q->items.size() <= q->entries_seen);
    FUZZ_CHECK(q->last_name_len <= sizeof q->last_name);
    for (const DirEntry &e : q->items) {
        FUZZ_CHECK(e.name != "." && e.name != "..");
        FUZZ_CHECK(!e.folder || e.size == -1);
    }
    return 0;
}
