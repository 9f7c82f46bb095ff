// The in-process fake server as a message transport, and the check of its
// answers that the fake-backed HostIo shares.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "fake/fake.h"
#include "net/msg_transport.h"

// Opens only to the host "fake" (any case) while a tree is loaded; each open
// is a new connection to the fake server. NULL when it cannot be allocated.
std::unique_ptr<MsgTransport> vnb_fake_transport();

// Hands one request message to the connection and checks the NBSS-framed
// answer, left in `frame` (which the caller releases): NULL with the message
// length in *msg_len (the message follows the 4-byte header), or the text of
// what is wrong with the answer.
const char *vnb_fake_checked_answer(FakeConnection *c, std::span<const uint8_t> req, ByteBuffer *frame,
                                    uint32_t *msg_len);
