// The client's reader of a QUERY_PATH_INFORMATION reply: the transaction
// reply message, then the SMB_QUERY_FILE_ALL_INFO data it carries.
#include "fuzz_input.h"
#include "sess/path_info.h"
#include "sess/trans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> msg(data, size);
    TransReply r;
    if (vnb_trans_reply_read(msg, 2, &r) != TransFault::none)
        return 0;
    FUZZ_CHECK(r.data == nullptr || (r.data >= data && r.data + r.data_count <= data + size));
    PathInfo info;
    int32_t rc = path_info_read({r.data, r.data != nullptr ? r.data_count : 0}, &info);
    FUZZ_CHECK(rc == 0 || rc == -2);
    if (rc == 0) {
        FUZZ_CHECK(info.folder ? info.size == -1 : info.size >= 0);
    } else {
        FUZZ_CHECK(!info.folder && info.size == -1 && info.mtime_ms == -1);
    }
    return 0;
}
