// The share listing's reader of the srvsvc pipe's answer: the run of
// DCE/RPC response fragments is joined into one PDU, whose NDR (a level-1
// NetShareEnumAll response) fills the session's share table.
#include <cstring>
#include <memory>

#include "fuzz_input.h"
#include "sess/share_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int joined = srvsvc_join_fragments(data, size, kSrvsvcEnumCallId, nullptr);
    FUZZ_CHECK(joined >= -1 && joined <= 1);
    if (joined != 1)
        return 0;
    ByteBuffer pdu{};
    FUZZ_CHECK(srvsvc_join_fragments(data, size, kSrvsvcEnumCallId, &pdu) == 1);
    FUZZ_CHECK(pdu.len <= size);
    // An exact copy, so that a read past the PDU is reported.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[pdu.len]);
    std::memcpy(exact.get(), pdu.data, pdu.len);
    auto s = std::make_unique<Session>();
    int rc = srvsvc_parse_enum(*s, exact.get(), static_cast<size_t>(pdu.len));
    // More shares than the table holds fail whole (-7), leaving none.
    FUZZ_CHECK(rc == 0 || rc == -1 || (rc == -7 && s->share_count == 0));
    FUZZ_CHECK(s->share_count >= 0 && s->share_count <= kMaxShares);
    for (int i = 0; i < s->share_count; i++)
        FUZZ_CHECK(terminated_within(s->share_names[i], sizeof s->share_names[i]));
    vnb_buf_free(&pdu);
    return 0;
}
