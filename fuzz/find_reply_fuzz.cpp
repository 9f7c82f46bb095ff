// The listing's reader of one TRANSACTION2 FIND_FIRST2 or FIND_NEXT2 reply
// message: the transaction reader, then the parameters (SID, EndOfSearch)
// and the page of FIND_FILE_BOTH_DIRECTORY_INFO entries. The first input
// byte picks FIND_FIRST2 or FIND_NEXT2 (bit 0), Unicode names (bit 1) and
// hidden names listed (bit 2); the rest is the message.
#include <memory>

#include "fuzz_input.h"
#include "sess/dir_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool first = (data[0] & 1) == 0;
    auto q = std::make_unique<ListingWork>();
    q->unicode = (data[0] & 2) != 0 ? 0 : 1;
    q->keep_hidden = (data[0] & 4) != 0;
    std::memcpy(q->folder, "Media/Movies", 13);
    // As the listing reads them: FIND_FIRST2 parameters are SID, count,
    // EndOfSearch (9 bytes at least); FIND_NEXT2's lack the SID.
    const size_t min_params = first ? 9 : 5;
    const size_t eos_at = first ? 4 : 2;
    const size_t count_at = first ? 2 : 0;

    TransReply r;
    TransFault f = vnb_trans_reply_read({data + 1, size - 1}, min_params, &r);
    SearchState st;
    bool end = find_take_params(r, min_params, eos_at, first, q.get(), &st);
    FUZZ_CHECK(!end || !st.open);
    if (f != TransFault::none)
        return 0;
    FUZZ_CHECK(r.params != nullptr && r.param_count >= min_params);
    FUZZ_CHECK(r.data_count == 0 || r.data != nullptr);
    int more = find_take_page(r, count_at, end, q.get(), first ? "FIND_FIRST2" : "FIND_NEXT2");
    FUZZ_CHECK(more == 0 || more == 1 || more == -2);
    FUZZ_CHECK(q->items.size() <= q->entries_seen);
    FUZZ_CHECK(q->last_name_len <= sizeof q->last_name);
    return 0;
}
