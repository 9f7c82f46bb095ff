// The fake server's request handling: the input is a sequence of SMB1
// request messages, each starting at "\xFFSMB", answered in order on one
// connection to a freshly loaded small tree. The first four bytes of every
// message are set to the protocol signature, so that a mutated signature does
// not stop the sequence before the handlers.
#include <vector>

#include "fake/fake.h"
#include "fuzz_input.h"
#include "fuzz_tree.h"

namespace {

constexpr uint8_t kProtocol[4] = {0xFF, 'S', 'M', 'B'};

// Where the next message starts: the next signature after `from`, or the end.
// (Compared by hand: a memcmp per byte, intercepted, costs a tenth of a run.)
size_t next_start(const uint8_t *data, size_t size, size_t from)
{
    for (size_t i = from + 1; i + 4 <= size; i++)
        if (data[i] == kProtocol[0] && data[i + 1] == kProtocol[1] && data[i + 2] == kProtocol[2] &&
            data[i + 3] == kProtocol[3])
            return i;
    return size;
}

void answer(FakeConnection *c, const uint8_t *msg, size_t len)
{
    // An exact copy, so that a read past the message is reported.
    std::vector<uint8_t> req(msg, msg + len);
    std::memcpy(req.data(), kProtocol, len < 4 ? len : 4);
    ByteBuffer out{};
    vnb_fake_answer(c, req.data(), req.size(), &out);
    FUZZ_CHECK(!out.failed);
    if (out.len != 0) {
        // One NBSS frame holding an SMB1 reply to this command.
        FUZZ_CHECK(out.len >= 4 + 35);
        uint64_t stated = (uint64_t{out.data[1]} << 16) | (uint64_t{out.data[2]} << 8) | out.data[3];
        FUZZ_CHECK(stated == out.len - 4);
        FUZZ_CHECK(std::memcmp(out.data + 4, kProtocol, 4) == 0);
        FUZZ_CHECK(len < 5 || out.data[8] == req[4]);
    }
    vnb_buf_free(&out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A fresh load per input resets the server, so that runs reproduce.
    FUZZ_CHECK(vnb_fake_load(kFuzzTree) == 0);
    FakeConnection *c = vnb_fake_open();
    FUZZ_CHECK(c != nullptr);
    for (size_t at = 0; at < size;) {
        size_t end = next_start(data, size, at);
        answer(c, data + at, end - at);
        at = end;
    }
    vnb_fake_close(c);
    return 0;
}
