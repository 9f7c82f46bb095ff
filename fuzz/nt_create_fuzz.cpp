// The client's reader of an NT_CREATE_ANDX reply: the input is the reply
// message.
#include "fuzz_input.h"
#include "sess/tree_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t fid = 0xFFFFFFFF;
    uint64_t eof = 0;
    int64_t mtime = 0;
    int32_t rc = create_reply_read({data, size}, &fid, &eof, &mtime);
    FUZZ_CHECK(rc == 0 || rc == -2);
    FUZZ_CHECK(rc != 0 || fid <= 0xFFFF);
    // Without out-pointers it reads the same.
    FUZZ_CHECK(create_reply_read({data, size}, nullptr, nullptr, nullptr) == rc);
    return 0;
}
