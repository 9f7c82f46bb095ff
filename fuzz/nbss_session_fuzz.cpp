// Both sides of the NetBIOS session request. The first byte picks the side:
// even, the client's reading of the server's answer (the rest of the input
// is the byte stream the server sends); odd, the fake server's answer to a
// packet of type data[1] whose payload is the rest.
#include <algorithm>
#include <span>

#include "fake/fake.h"
#include "fuzz_input.h"
#include "fuzz_tree.h"
#include "net/nbss_session.h"
#include "util/netbios_name.h"

namespace {

// A byte stream that hands out the input, at most `slice` bytes a read.
struct Stream {
    std::span<const uint8_t> in;
    size_t at = 0;
    size_t slice = 1;
    size_t written = 0;
};

int stream_write(void *ctx, const uint8_t *, size_t len)
{
    static_cast<Stream *>(ctx)->written += len;
    return 0;
}

int stream_read(void *ctx, uint8_t *buf, size_t cap, int)
{
    auto *s = static_cast<Stream *>(ctx);
    if (s->at >= s->in.size())
        return 0;  // the peer closed
    size_t n = std::min({cap, s->slice, s->in.size() - s->at});
    std::memcpy(buf, s->in.data() + s->at, n);
    s->at += n;
    return static_cast<int>(n);
}

void client_side(std::span<const uint8_t> in)
{
    const size_t slice = in.empty() ? 1 : static_cast<size_t>(in[0] & 7) + 1;
    Stream s{in.subspan(std::min<size_t>(1, in.size())), 0, slice, 0};
    Transport t{&s, nullptr, stream_write, stream_read, nullptr};
    NbssSessionAnswer a;
    int32_t rc = nbss_session_request(&t, "*SMBSERVER", "VANTRELVIEWER", 1000, &a);
    FUZZ_CHECK(rc == 0 || rc == -1);
    FUZZ_CHECK(s.written == 72);
    if (a.kind == NbssAnswerKind::negative)
        FUZZ_CHECK(nbss_refusal_text(a.error) != nullptr);
    char called[kNetbiosNameChars + 1];
    vnb_netbios_called_name(fuzz_text(in.data(), in.size()).get(), called);
    FUZZ_CHECK(called[0] != '\0' && terminated_within(called, sizeof called));
}

void server_side(std::span<const uint8_t> in)
{
    static const bool loaded = vnb_fake_load(kFuzzTree) == 0;
    if (in.empty() || !loaded)
        return;
    FakeConnection *c = vnb_fake_open();
    ByteBuffer out{};
    bool keep = vnb_fake_nbss_packet(c, in[0], in.data() + 1, in.size() - 1, &out);
    FUZZ_CHECK(out.len == 0 || out.len == 4 || out.len == 5);
    FUZZ_CHECK(!keep || out.len != 5);
    FUZZ_CHECK(vnb_fake_nbss_open(c) || !keep || in[0] != 0x81);
    char name[kNetbiosNameChars + 1];
    uint8_t type = 0;
    int n = vnb_netbios_decode(in.data() + 1, in.size() - 1, name, &type);
    FUZZ_CHECK(n == -1 || n == static_cast<int>(kNetbiosEncodedLen));
    vnb_buf_free(&out);
    vnb_fake_close(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::span<const uint8_t> rest(data + 1, size - 1);
    if (data[0] & 1)
        server_side(rest);
    else
        client_side(rest);
    return 0;
}
