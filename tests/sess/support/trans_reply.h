// TRANSACTION / TRANSACTION2 as the engine tests see them: a reader for the
// requests the client sends and a builder for well-formed one-message replies
// (which a test then bends to make them lie).
#pragma once

#include <cstdint>
#include <vector>

#include "sess/support/script_peer.h"

namespace sp {

// Reply word offsets in the message.
inline constexpr size_t kRepTotalParams = 33;
inline constexpr size_t kRepTotalData = 35;
inline constexpr size_t kRepParamCount = 39;
inline constexpr size_t kRepParamOffset = 41;
inline constexpr size_t kRepParamDisp = 43;
inline constexpr size_t kRepDataCount = 45;
inline constexpr size_t kRepDataOffset = 47;
inline constexpr size_t kRepDataDisp = 49;

// Builds a reply to req: WordCount 10 (no setup words), the parameter block
// and the data block each at a 4-byte aligned offset.
Bytes trans_reply(const Bytes &req, const Bytes &params, const Bytes &data, uint32_t status = 0,
                  uint16_t flags2 = 0xC801);

void set16(Bytes &msg, size_t off, uint32_t v);

// A request as sent, its blocks cut out by their offsets and counts.
struct TransReq {
    uint8_t word_count = 0;
    uint16_t total_params = 0;
    uint16_t total_data = 0;
    uint16_t max_params = 0;
    uint16_t max_data = 0;
    uint32_t timeout = 0;
    uint16_t param_count = 0;
    uint16_t param_offset = 0;
    uint16_t data_count = 0;
    uint16_t data_offset = 0;
    std::vector<uint16_t> setup;
    uint16_t byte_count = 0;
    size_t byte_block = 0;  // offset of the byte block
    Bytes params;
    Bytes data;
    bool ok = false;        // every field and block lies inside the message
};
TransReq parse_trans_req(const Bytes &req);

}  // namespace sp
