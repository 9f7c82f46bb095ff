// The RAP reply readers: the first byte picks NetShareEnum or
// NetServerEnum2, the second is the length of the reply parameters that
// follow; the rest is the reply data.
#include <memory>

#include "fuzz_input.h"
#include "sess/rap_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    bool servers = (data[0] & 1) != 0;
    size_t param_len = std::min<size_t>(data[1], size - 2);
    size_t data_len = size - 2 - param_len;
    // Exact copies, so that a read past either block is reported.
    std::unique_ptr<uint8_t[]> params(new uint8_t[param_len ? param_len : 1]);
    std::unique_ptr<uint8_t[]> block(new uint8_t[data_len ? data_len : 1]);
    if (param_len)
        std::memcpy(params.get(), data + 2, param_len);
    if (data_len)
        std::memcpy(block.get(), data + 2 + param_len, data_len);
    std::span<const uint8_t> p(params.get(), param_len);
    std::span<const uint8_t> d(block.get(), data_len);
    uint16_t status = 0;
    if (servers) {
        std::vector<RapServer> out;
        int rc = rap_parse_servers(p, d, &status, &out);
        FUZZ_CHECK(rc == 0 || rc == -1);
        FUZZ_CHECK(out.size() * 26 <= data_len);
        for (const RapServer &s : out)
            FUZZ_CHECK(s.name.size() <= 16 && s.comment.size() <= 256);
    } else {
        std::vector<RapShare> out;
        int rc = rap_parse_shares(p, d, &status, &out);
        FUZZ_CHECK(rc == 0 || rc == -1);
        FUZZ_CHECK(out.size() * 20 <= data_len);
        for (const RapShare &s : out)
            FUZZ_CHECK(s.name.size() <= 13 && s.remark.size() <= 256);
    }
    return 0;
}
