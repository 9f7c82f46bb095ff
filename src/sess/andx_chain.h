// AndX chains: two requests in one message (TREE_CONNECT behind the last
// SESSION_SETUP leg, READ behind NT_CREATE) and the walk over the links of a
// chained reply, whose every offset comes from the server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sess/exchange.h"
#include "sess/session.h"
#include "util/bytebuf.h"

// One request of a chain: its command, its words (starting with the AndX
// block, which the chain fills in) and its bytes.
struct ChainPart {
    uint32_t command;
    std::span<const uint8_t> words;
    std::span<const uint8_t> bytes;
};

// Whether a message of `len` bytes fits what the server takes in one.
bool chain_fits(const Session &s, size_t len);

// Builds the message of two chained requests: the second starts on a 4-byte
// boundary, so that strings aligned for a message of their own stay aligned.
// -7 when the words or bytes overflow their fields.
int32_t chain_build(const Session &s, const ChainPart &first, const ChainPart &second, uint32_t tid,
                    ByteBuffer *msg);

// Builds, sends and awaits a chain of two requests. The reply status is left
// to the caller (it belongs to the last link answered).
int32_t chain_exchange(Session &s, const ChainPart &first, const ChainPart &second, uint32_t tid, bool sign,
                       SmbRequest &req);

// One answered link of a reply: the offset of its WordCount, its command
// and where its byte block lies.
struct AndxLink {
    uint32_t command = 0;
    size_t at = 0;           // WordCount, counted from the start of the message
    uint32_t word_count = 0;
    size_t bytes_at = 0;     // the first data byte, after ByteCount
    size_t byte_count = 0;
};

inline constexpr size_t kMaxAndxLinks = 4;

// Walks the links of a reply message (header included), at most
// kMaxAndxLinks: the first at the header's end, each next one where its
// predecessor's AndXOffset points. Every link's WordCount, words, ByteCount
// and bytes lie inside the message, and each AndXOffset points past the end
// of the link before it. A link without words (an error response) or with
// AndXCommand 0xFF ends the walk. Returns the links found (1 or more), or
// -2 with the failure worded.
int32_t andx_links(std::span<const uint8_t> msg, AndxLink (&links)[kMaxAndxLinks]);
