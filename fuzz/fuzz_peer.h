// A message transport that answers every request of the client with the
// next reply message cut from the fuzz input. Messages start at "\xFFSMB"
// (the first one wherever the input starts); each is patched to answer the
// request it is taken for (MID, PID, TID and UID, the command unless the
// input keeps its own), and signed, as a server that knows the password
// would sign it, when the request was signed. No sockets, no waiting: when
// the input runs out the connection is closed and cannot be opened again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <span>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/smb_sign.h"
#include "fuzz_input.h"
#include "net/msg_transport.h"
#include "ntlm/ntlm.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/smb1_wire.h"

namespace fuzz_peer {

constexpr uint8_t kProtocol[4] = {0xFF, 'S', 'M', 'B'};

// Header offsets.
constexpr size_t kOffCommand = 4;
constexpr size_t kOffFlags2 = 10;
constexpr size_t kOffTid = 24;
constexpr size_t kOffPid = 26;
constexpr size_t kOffUid = 28;
constexpr size_t kOffMid = 30;
constexpr size_t kOffSecurityMode = 35;  // NEGOTIATE reply
constexpr uint8_t kSecSignaturesEnabled = 0x04;
constexpr uint8_t kSecSignaturesRequired = 0x08;

// Where the next message starts: the next signature after `from`, or the end.
inline size_t next_start(std::span<const uint8_t> in, size_t from)
{
    for (size_t i = from + 1; i + 4 <= in.size(); i++)
        if (in[i] == kProtocol[0] && in[i + 1] == kProtocol[1] && in[i + 2] == kProtocol[2] &&
            in[i + 3] == kProtocol[3])
            return i;
    return in.size();
}

enum class Signing {
    off,        // the NEGOTIATE reply never asks for signatures
    mandatory,  // it always does
    as_given,   // it says what the input says
};

struct Options {
    bool pipelines = true;
    bool one_message_per_reply = false;  // as the host relay: replies must fit one message
    bool keep_command = false;  // the reply's command byte stays as the input has it
    Signing signing = Signing::as_given;
    const char *domain = "";
    const char *user = "";
    const char *password = "";
};

class Peer : public MsgTransport {
public:
    Peer(std::span<const uint8_t> input, const Options &opt) : in_(input), opt_(opt) {}

    int32_t open(const char *, int, int) override
    {
        if (at_ >= in_.size())
            return vnb_fail(-1, "connection refused");
        open_ = true;
        pending_.clear();
        have_last_ = false;
        key_len_ = 0;
        seq_ = 0;
        return 0;
    }

    int32_t send(std::span<const uint8_t> msg) override
    {
        if (!open_)
            return vnb_fail(-1, "not connected");
        FUZZ_CHECK(msg.size() >= 33 && std::memcmp(msg.data(), kProtocol, 4) == 0);
        Request r;
        LeReader h(msg);
        r.command = msg[kOffCommand];
        r.tid = h.u16_at(kOffTid);
        r.pid = h.u16_at(kOffPid);
        r.uid = h.u16_at(kOffUid);
        r.mid = h.u16_at(kOffMid);
        if (r.command == smb::SESSION_SETUP_ANDX && derive_key(msg)) {
            // The final logon leg: its reply is signed with sequence number 1,
            // and the session's own requests count on from 2.
            r.sign = true;
            r.reply_seq = 1;
            seq_ = 2;
        } else if ((h.u16_at(kOffFlags2) & kFlags2SecuritySignature) != 0 && key_len_ != 0) {
            // A signed request: it must carry the signature for the next
            // sequence number; its reply takes the one after that.
            FUZZ_CHECK(vnb_sign_verify(key_, key_len_, seq_, msg.data(), msg.size()) == 1);
            r.sign = true;
            r.reply_seq = seq_ + 1;
            seq_ += 2;
        }
        pending_.push_back(r);
        return 0;
    }

    int32_t recv(ByteBuffer &out, int) override
    {
        out.len = 0;
        if (!open_)
            return vnb_fail(-1, "not connected");
        // The oldest request without a reply; with none, a further message
        // answering the last one (the secondary responses of a transaction).
        if (!pending_.empty()) {
            last_ = pending_.front();
            pending_.pop_front();
            have_last_ = true;
        } else if (!have_last_) {
            return vnb_fail(-1, "timed out: nothing was asked");
        }
        if (at_ >= in_.size()) {
            close();
            return vnb_fail(-1, "the connection was closed by the peer");
        }
        size_t end = next_start(in_, at_);
        msg_.assign(in_.begin() + static_cast<ptrdiff_t>(at_), in_.begin() + static_cast<ptrdiff_t>(end));
        at_ = end;
        patch(last_, msg_);
        vnb_buf_put(&out, msg_.data(), msg_.size());
        FUZZ_CHECK(!out.failed);
        return 0;
    }

    void close() override
    {
        open_ = false;
        pending_.clear();
        have_last_ = false;
    }
    bool pipelines() const override { return opt_.pipelines; }
    bool one_message_per_reply() const override { return opt_.one_message_per_reply; }

private:
    struct Request {
        uint32_t command = 0, tid = 0, pid = 0, uid = 0, mid = 0;
        bool sign = false;
        uint32_t reply_seq = 0;
    };

    static void put16(std::vector<uint8_t> &m, size_t off, uint32_t v)
    {
        m[off] = static_cast<uint8_t>(v);
        m[off + 1] = static_cast<uint8_t>(v >> 8);
    }

    void patch(const Request &r, std::vector<uint8_t> &m) const
    {
        std::memcpy(m.data(), kProtocol, m.size() < 4 ? m.size() : 4);
        if (m.size() < smb::kHeaderLen)
            return;
        if (!opt_.keep_command)
            m[kOffCommand] = static_cast<uint8_t>(r.command);
        // A TREE_CONNECT reply assigns the TID, a SESSION_SETUP reply the UID.
        if (r.command != smb::TREE_CONNECT_ANDX)
            put16(m, kOffTid, r.tid);
        if (r.command != smb::SESSION_SETUP_ANDX)
            put16(m, kOffUid, r.uid);
        put16(m, kOffPid, r.pid);
        put16(m, kOffMid, r.mid);
        if (r.command == smb::NEGOTIATE && m.size() > kOffSecurityMode) {
            if (opt_.signing == Signing::off)
                m[kOffSecurityMode] &= static_cast<uint8_t>(~kSecSignaturesRequired);
            else if (opt_.signing == Signing::mandatory)
                m[kOffSecurityMode] |= kSecSignaturesRequired | kSecSignaturesEnabled;
        }
        if (r.sign && opt_.signing != Signing::off)
            vnb_sign_frame(key_, key_len_, r.reply_seq, m.data(), m.size());
    }

    // The MAC key of a named logon, from the client's last SESSION_SETUP
    // request as a server computes it: the session key is HMAC-MD5 under the
    // NTLMv2 hash of the NTProofStr (the first 16 bytes of the NT response);
    // a logon without extended security appends the whole NT response.
    // False for a leg that carries no NT response (the first legs, an
    // anonymous logon).
    bool derive_key(std::span<const uint8_t> msg)
    {
        LeReader r(msg);
        uint32_t wc = r.u8_at(smb::kHeaderLen);
        size_t bytes_at = smb::kHeaderLen + 1 + 2 * size_t{wc} + 2;
        std::span<const uint8_t> nt;
        bool extended = wc == 12;
        if (extended) {
            size_t blob_len = r.u16_at(47);
            const uint8_t *blob = r.at(bytes_at, blob_len);
            if (blob == nullptr)
                return false;
            nt = ntlm_nt_response({blob, blob_len});
        } else if (wc == 13) {
            size_t lm_len = r.u16_at(47);
            size_t nt_len = r.u16_at(49);
            const uint8_t *p = r.at(bytes_at + lm_len, nt_len);
            if (p != nullptr)
                nt = {p, nt_len};
        }
        if (nt.size() < 16 || opt_.password[0] == '\0')
            return false;
        uint8_t nt_hash[16];
        uint8_t v2_hash[16];
        vnb_ntlm_hashes_dom(opt_.user, opt_.domain, opt_.password, nt_hash, v2_hash);
        vnb_hmacmd5(v2_hash, 16, nt.data(), 16, key_);
        key_len_ = 16;
        if (!extended && nt.size() <= sizeof key_ - 16) {
            std::memcpy(key_ + 16, nt.data(), nt.size());
            key_len_ += nt.size();
        }
        return true;
    }

    // The NtChallengeResponse of the AUTHENTICATE message inside a blob.
    static std::span<const uint8_t> ntlm_nt_response(std::span<const uint8_t> blob)
    {
        for (size_t i = 0; i + 32 <= blob.size(); i++) {
            if (std::memcmp(blob.data() + i, NTLMSSP_SIGNATURE, 8) != 0 || blob[i + 8] != 3)
                continue;
            LeReader t(blob.subspan(i));
            size_t len = t.u16_at(20);
            size_t off = t.u32_at(24);
            const uint8_t *p = t.at(off, len);
            return p != nullptr ? std::span<const uint8_t>(p, len) : std::span<const uint8_t>();
        }
        return {};
    }

    std::span<const uint8_t> in_;
    Options opt_;
    size_t at_ = 0;
    bool open_ = false;
    std::deque<Request> pending_;
    Request last_;
    bool have_last_ = false;
    std::vector<uint8_t> msg_;
    uint8_t key_[16 + 2048]{};
    size_t key_len_ = 0;
    uint32_t seq_ = 0;
};

}  // namespace fuzz_peer
