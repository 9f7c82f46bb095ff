// The whole client: connect with a user and password, list the shares, list
// two folders (the second one over several search pages), open a file, read it at a few offsets, close it and disconnect,
// every request answered by the next reply message of the input (see
// fuzz_peer.h: messages start at "\xFFSMB", MID, PID, TID and UID are
// patched to answer the request, signed replies are signed with the key of
// the logon).
//
// The first input byte picks how: bits 0-1 signing (0 never, 1 always,
// 2-3 as the NEGOTIATE reply says), bit 2 pipelining, bit 3 the reply's
// command byte kept as given, bit 4 an anonymous logon, bits 5-6 the
// read-ahead (none, 4, 16 or 64 KiB), bit 7 a transport that carries one
// message per reply (transaction replies must then fit one).
#include <initializer_list>
#include <memory>

#include "api/session_ops.h"
#include "fuzz_input.h"
#include "fuzz_peer.h"
#include "sess/lifecycle.h"

namespace {

constexpr int kReadLength = 1000;  // bytes per read: a few chunks at most

void store(char *field, size_t cap, const char *text)
{
    std::snprintf(field, cap, "%s", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t how = data[0];
    const bool anonymous = (how & 0x10) != 0;
    fuzz_peer::Options opt;
    static constexpr fuzz_peer::Signing kSigning[4] = {fuzz_peer::Signing::off, fuzz_peer::Signing::mandatory,
                                                       fuzz_peer::Signing::as_given, fuzz_peer::Signing::as_given};
    opt.signing = kSigning[how & 3];
    opt.pipelines = (how & 4) != 0;
    opt.keep_command = (how & 8) != 0;
    opt.one_message_per_reply = (how & 0x80) != 0;
    opt.domain = "WG";
    opt.user = anonymous ? "" : "alice";
    opt.password = anonymous ? "" : "pw";

    auto s = std::make_unique<Session>();
    // What vnb_connect stores, with the transport made here.
    store(s->host, sizeof s->host, "fuzz");
    s->port = 445;
    store(s->domain, sizeof s->domain, opt.domain);
    store(s->user, sizeof s->user, opt.user);
    store(s->password, sizeof s->password, opt.password);
    s->anonymous = anonymous ? 1 : 0;
    s->timeout_ms = 1000;
    static constexpr int64_t kReadAhead[4] = {0, 4096, 16384, 65536};
    s->read_ahead = kReadAhead[(how >> 5) & 3];
    s->transport = std::make_unique<fuzz_peer::Peer>(std::span<const uint8_t>(data + 1, size - 1), opt);

    int32_t rc = vnb_sess_ensure(*s);
    FUZZ_CHECK(rc <= 0);
    if (rc == 0) {
        FUZZ_CHECK(s->established == 1);
        rc = vnb_shares(*s);
        FUZZ_CHECK(rc < 0 || rc == s->share_count);
        for (int i = 0; i < s->share_count; i++)
            FUZZ_CHECK(terminated_within(s->share_names[i], sizeof s->share_names[i]));
        for (const char *folder : {"Media/Movies", "Media/Many"}) {
            int32_t items = vnb_list(*s, folder, nullptr);
            FUZZ_CHECK(items < 0 || static_cast<size_t>(items) == s->listing.items.size());
        }
        int32_t h = vnb_open(*s, "Media/Movies", "a.mkv");
        if (h > 0) {
            // The end of file as a signed number, as the interface reports it.
            int64_t file_size = vnb_size(*s, h);
            static uint8_t buf[kReadLength];
            const int64_t offsets[] = {0, kReadLength, 4 * kReadLength, file_size - 10, 99000};
            for (int64_t at : offsets) {
                if (at < 0)
                    continue;
                int32_t n = vnb_read_at(*s, h, at, buf, kReadLength);
                FUZZ_CHECK(n <= kReadLength);
                FUZZ_CHECK(n <= 0 || static_cast<uint64_t>(at) + static_cast<uint64_t>(n) <=
                                         static_cast<uint64_t>(file_size));
            }
            vnb_close(*s, h);
        }
    }
    vnb_disconnect(*s);
    FUZZ_CHECK(s->in_flight.empty());
    return 0;
}
