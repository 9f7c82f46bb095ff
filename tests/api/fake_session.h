// A session on the library's own fake server, reached the way a host does:
// through the exported calls, either over the fake transport (mode 2) or
// relayed through the library's fake-backed HostIo (mode 1).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "vnsmb1c.h"

enum class Road { fake, relay };

inline std::string road_name(const ::testing::TestParamInfo<Road> &info)
{
    return info.param == Road::fake ? "FakeTransport" : "RelayedThroughFakeIo";
}

// SMB1 command codes the fake server counts.
enum : int {
    kCmdClose = 0x04,
    kCmdTrans = 0x25,
    kCmdRead = 0x2E,
    kCmdTrans2 = 0x32,
    kCmdFindClose2 = 0x34,
    kCmdTreeDisconnect = 0x71,
    kCmdNegotiate = 0x72,
    kCmdLogoff = 0x74,
    kCmdTreeConnect = 0x75,
    kCmdNtCreate = 0xA2,
};

// Node ids count from 1001 in registration order: each share's root, then
// its entries depth first in document order, generated files after the
// explicit entries of their folder.
//   Media root 1001, big.bin 1002, Movies 1003, a.mkv 1004, hello.txt 1005,
//   Sub 1006, .profile 1007, $RECYCLE.BIN 1008, @eaDir 1009, the quoted
//   name 1010, ctl 1011, Paged 1012 with p0..p119.
inline constexpr int64_t kBigBinId = 1002;
inline constexpr int64_t kMkvId = 1004;
inline constexpr int64_t kBigBinSize = 5368709120;  // 5 GiB
inline constexpr int64_t kMkvSize = 300000;

inline constexpr const char *kMediaTree = R"({
  "shares": [
    {"name": "Media", "root": [
      {"name": "big.bin", "size": 5368709120},
      {"name": "Movies", "children": [
        {"name": "a.mkv", "size": 300000, "mtime": 1500000000},
        {"name": "hello.txt", "text": "hello world", "mtime": 1600000000},
        {"name": "Sub", "children": []},
        {"name": ".profile", "text": "x"},
        {"name": "$RECYCLE.BIN", "children": []},
        {"name": "@eaDir", "children": []},
        {"name": "quote\"back\\slash\ttab.txt", "text": "q"},
        {"name": "ctl\u0001.txt", "text": ""}
      ]},
      {"name": "Paged", "generate": 120, "prefix": "p"}
    ]},
    {"name": "Music", "root": [{"name": "song.mp3", "text": "la la la"}]},
    {"name": "ADMIN$"}, {"name": "C$"}, {"name": "print$"}, {"name": "D$"}
  ],
  "users": [{"name": "alice", "pass": "pw"}]
})";

// The byte at offset o of a fake file that has no text content.
inline uint8_t generated_byte(int64_t id, uint64_t o)
{
    return static_cast<uint8_t>(31 * static_cast<uint64_t>(id) + 7 * o + (o >> 8));
}

// Selects the road to the fake server with the tree and logs on as alice.
// Returns vnsmb1c_connect's result.
inline int open_fake_session(Road road, const char *tree)
{
    int rc = vnsmb1c_use_fake(tree);
    if (rc == 0 && road == Road::relay)
        rc = vnsmb1c_use_io(vnsmb1c_io_fake());
    if (rc == 0)
        rc = vnsmb1c_connect("fake", 0, nullptr, "alice", "pw");
    return rc;
}

class OnFakeServer : public ::testing::TestWithParam<Road> {
protected:
    virtual const char *tree() const { return kMediaTree; }
    void SetUp() override { ASSERT_EQ(open_fake_session(GetParam(), tree()), 0) << vnsmb1c_last_error(); }
    // Back to the default selection; this also ends the session.
    void TearDown() override { vnsmb1c_use_sockets(); }
};
