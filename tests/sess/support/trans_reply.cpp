#include "sess/support/trans_reply.h"

namespace sp {

void set16(Bytes &msg, size_t off, uint32_t v)
{
    msg.at(off) = static_cast<uint8_t>(v);
    msg.at(off + 1) = static_cast<uint8_t>(v >> 8);
}

Bytes trans_reply(const Bytes &req, const Bytes &params, const Bytes &data, uint32_t status, uint16_t flags2)
{
    constexpr size_t kBlock = 32 + 1 + 20 + 2;  // the byte block of a WordCount 10 reply
    Bytes block;
    auto align = [&] {
        while ((kBlock + block.size()) % 4 != 0)
            block.push_back(0);
    };
    align();
    size_t param_offset = kBlock + block.size();
    append(block, params);
    align();
    size_t data_offset = kBlock + block.size();
    append(block, data);

    Bytes words;
    put16(words, static_cast<uint32_t>(params.size()));  // TotalParameterCount
    put16(words, static_cast<uint32_t>(data.size()));    // TotalDataCount
    put16(words, 0);
    put16(words, static_cast<uint32_t>(params.size()));
    put16(words, static_cast<uint32_t>(param_offset));
    put16(words, 0);
    put16(words, static_cast<uint32_t>(data.size()));
    put16(words, static_cast<uint32_t>(data_offset));
    put16(words, 0);
    put8(words, 0);  // SetupCount
    put8(words, 0);
    return reply_to(req, status, words, block, flags2);
}

TransReq parse_trans_req(const Bytes &req)
{
    TransReq t;
    if (req.size() < 33)
        return t;
    t.word_count = req[32];
    size_t words_end = 33 + 2 * size_t{t.word_count};
    if (t.word_count < 14 || req.size() < words_end + 2)
        return t;
    t.total_params = get16(req, 33);
    t.total_data = get16(req, 35);
    t.max_params = get16(req, 37);
    t.max_data = get16(req, 39);
    t.timeout = get32(req, 45);
    t.param_count = get16(req, 51);
    t.param_offset = get16(req, 53);
    t.data_count = get16(req, 55);
    t.data_offset = get16(req, 57);
    uint8_t setup_count = req[59];
    if (61 + 2 * size_t{setup_count} > words_end)
        return t;
    for (size_t i = 0; i < setup_count; i++)
        t.setup.push_back(get16(req, 61 + 2 * i));
    t.byte_count = get16(req, words_end);
    t.byte_block = words_end + 2;
    if (t.byte_block + t.byte_count != req.size())
        return t;
    if (size_t{t.param_offset} + t.param_count > req.size() || size_t{t.data_offset} + t.data_count > req.size())
        return t;
    t.params.assign(req.begin() + t.param_offset, req.begin() + t.param_offset + t.param_count);
    t.data.assign(req.begin() + t.data_offset, req.begin() + t.data_offset + t.data_count);
    t.ok = true;
    return t;
}

}  // namespace sp
