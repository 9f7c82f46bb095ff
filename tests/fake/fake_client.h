// A small SMB1 client for driving the fake server's frame handler directly:
// request builders, reply accessors and a fixture that logs on.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/smb_sign.h"
#include "fake/fake.h"
#include "ntlm/ntlm.h"
#include "ntlm/spnego.h"
#include "util/bytebuf.h"
#include "util/status.h"
#include "util/text.h"

using Bytes = std::vector<uint8_t>;

namespace fk {

constexpr uint16_t kUnicodeFlags2 = 0xC801;
constexpr uint16_t kOemFlags2 = 0x4801;
constexpr uint16_t kIpcTree = 0xFF01;

// Little-endian field writer.
struct W {
    Bytes b;
    W &u8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); return *this; }
    W &u16(uint32_t v) { u8(v); return u8(v >> 8); }
    W &u32(uint32_t v) { u16(v); return u16(v >> 16); }
    W &u64(uint64_t v) { u32(static_cast<uint32_t>(v)); return u32(static_cast<uint32_t>(v >> 32)); }
    W &put(const Bytes &x) { b.insert(b.end(), x.begin(), x.end()); return *this; }
    W &put(const void *p, size_t n)
    {
        const auto *c = static_cast<const uint8_t *>(p);
        b.insert(b.end(), c, c + n);
        return *this;
    }
    W &zeros(size_t n) { b.insert(b.end(), n, 0); return *this; }
    size_t size() const { return b.size(); }
};

inline Bytes utf16(const std::string &s, bool nul = true)
{
    Bytes out(s.size() * 4 + 4);
    int32_t n = 0;
    EXPECT_EQ(0, vnb_utf8_to_utf16le(s.c_str(), out.data(), static_cast<int32_t>(out.size()), &n)) << s;
    out.resize(static_cast<size_t>(n));
    if (nul) {
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

inline Bytes ascii(const std::string &s)
{
    Bytes out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

inline uint16_t r16(const Bytes &m, size_t off)
{
    return off + 2 <= m.size() ? static_cast<uint16_t>(m[off] | (m[off + 1] << 8)) : 0;
}
inline uint32_t r32(const Bytes &m, size_t off)
{
    return off + 4 <= m.size() ? uint32_t{r16(m, off)} | (uint32_t{r16(m, off + 2)} << 16) : 0;
}
inline uint64_t r64(const Bytes &m, size_t off)
{
    return uint64_t{r32(m, off)} | (uint64_t{r32(m, off + 4)} << 32);
}

struct Req {
    uint8_t cmd = 0;
    uint16_t flags2 = kUnicodeFlags2;
    uint16_t tid = 0;
    uint16_t uid = 0;
    uint16_t mid = 1;
    uint16_t pid = 0x1234;
    Bytes words;
    Bytes bytes;
};

// Header, WordCount, words, ByteCount, bytes.
inline Bytes build(const Req &r)
{
    W w;
    w.u8(0xFF).u8('S').u8('M').u8('B').u8(r.cmd).u32(0).u8(0x18).u16(r.flags2).u16(0).u64(0).u16(0);
    w.u16(r.tid).u16(r.pid).u16(r.uid).u16(r.mid);
    w.u8(static_cast<uint32_t>(r.words.size() / 2)).put(r.words);
    w.u16(static_cast<uint32_t>(r.bytes.size())).put(r.bytes);
    return w.b;
}

// Offset of the bytes block of a request built by `build`.
inline size_t bytes_offset(const Req &r)
{
    return 32 + 1 + r.words.size() + 2;
}

struct Reply {
    bool present = false;
    Bytes raw;  // what the handler appended, NBSS header included
    Bytes msg;  // the SMB1 message

    uint8_t command() const { return msg[4]; }
    uint32_t status() const { return r32(msg, 5); }
    uint16_t flags2() const { return r16(msg, 10); }
    uint16_t tid() const { return r16(msg, 24); }
    uint16_t pid() const { return r16(msg, 26); }
    uint16_t uid() const { return r16(msg, 28); }
    uint16_t mid() const { return r16(msg, 30); }
    uint8_t wc() const { return msg.size() > 32 ? msg[32] : 0; }
    uint16_t word(size_t i) const { return r16(msg, 33 + 2 * i); }
    size_t bc_offset() const { return 33 + 2 * size_t{wc()}; }
    uint16_t byte_count() const { return r16(msg, bc_offset()); }
    Bytes data_bytes() const
    {
        size_t at = bc_offset() + 2;
        return at <= msg.size() ? Bytes(msg.begin() + static_cast<long>(at), msg.end()) : Bytes{};
    }
    Bytes slice(size_t off, size_t n) const
    {
        if (off > msg.size() || n > msg.size() - off)
            return {};
        return Bytes(msg.begin() + static_cast<long>(off), msg.begin() + static_cast<long>(off + n));
    }
    // Transaction replies: parameter and data blocks as the words place them.
    Bytes params() const { return slice(word(4), word(3)); }
    Bytes data() const { return slice(word(7), word(6)); }
};

// Splits what the server appended into its NBSS-framed messages, checking
// each frame's length; a tail shorter than its header stays unsplit.
inline std::vector<Bytes> nbss_messages(const Bytes &raw)
{
    std::vector<Bytes> out;
    size_t at = 0;
    while (at + 4 <= raw.size()) {
        size_t n = (size_t{raw[at + 1]} << 16) | (size_t{raw[at + 2]} << 8) | raw[at + 3];
        EXPECT_EQ(0, raw[at]) << "NBSS type";
        EXPECT_LE(n, raw.size() - at - 4) << "NBSS length";
        if (n > raw.size() - at - 4)
            break;
        out.emplace_back(raw.begin() + static_cast<long>(at + 4), raw.begin() + static_cast<long>(at + 4 + n));
        at += 4 + n;
    }
    EXPECT_EQ(at, raw.size()) << "bytes after the last frame";
    return out;
}

// Hands one request to the server (on `conn`, or the process-default
// connection when NULL) and checks the NBSS framing of the answer.
inline Reply exchange(const Bytes &req, FakeConnection *conn = nullptr)
{
    ByteBuffer out{};
    if (conn)
        vnb_fake_answer(conn, req.data(), req.size(), &out);
    else
        vnb_fake_handle_frame(req.data(), req.size(), &out);
    Reply r;
    if (out.len > 0) {
        r.present = true;
        r.raw.assign(out.data, out.data + out.len);
        if (out.len >= 4 && out.data[0] == 0) {
            size_t n = (size_t{out.data[1]} << 16) | (size_t{out.data[2]} << 8) | out.data[3];
            EXPECT_EQ(n + 4, out.len) << "NBSS length";
            r.msg.assign(out.data + 4, out.data + out.len);
        }
    }
    vnb_buf_free(&out);
    return r;
}

inline Bytes buf_bytes(const ByteBuffer &b)
{
    return b.len ? Bytes(b.data, b.data + b.len) : Bytes{};
}

// ---- request bodies ----

inline Req negotiate_req(std::vector<std::string> dialects = {"NT LM 0.12"})
{
    Req r;
    r.cmd = 0x72;
    for (const std::string &d : dialects) {
        r.bytes.push_back(0x02);
        Bytes a = ascii(d);
        r.bytes.insert(r.bytes.end(), a.begin(), a.end());
    }
    return r;
}

inline Req session_setup_ext(const Bytes &blob, uint16_t uid = 0, uint16_t max_buffer = 16644)
{
    Req r;
    r.cmd = 0x73;
    r.uid = uid;
    W w;
    w.u8(0xFF).u8(0).u16(0).u16(max_buffer).u16(2).u16(1).u32(0).u16(static_cast<uint32_t>(blob.size()));
    w.u32(0).u32(0x80001054);
    r.words = w.b;
    W b;
    b.put(blob);
    if (b.size() % 2 == 0)  // NativeOS after the blob, aligned in the message
        b.u8(0);
    b.put(utf16("VANTRELVIEWER")).put(utf16("jCIFS"));
    r.bytes = b.b;
    return r;
}

// Basic-security form (WordCount 13), strings as flags2 says. The default
// capabilities are the client's: Unicode, NT SMBs, 32-bit status, NT find.
inline Req session_setup_basic(const Bytes &lm, const Bytes &nt, const std::string &user,
                               const std::string &domain, uint16_t flags2 = kOemFlags2, uint32_t caps = 0x1054)
{
    Req r;
    r.cmd = 0x73;
    r.flags2 = flags2;
    W w;
    w.u8(0xFF).u8(0).u16(0).u16(16644).u16(2).u16(1).u32(0);
    w.u16(static_cast<uint32_t>(lm.size())).u16(static_cast<uint32_t>(nt.size())).u32(0).u32(caps);
    r.words = w.b;
    W b;
    b.put(lm).put(nt);
    bool unicode = (flags2 & 0x8000) != 0;
    if (unicode) {
        if ((bytes_offset(r) + b.size()) % 2 != 0)
            b.u8(0);
        b.put(utf16(user)).put(utf16(domain)).put(utf16("VANTRELVIEWER")).put(utf16("jCIFS"));
    } else {
        b.put(ascii(user)).put(ascii(domain)).put(ascii("VANTRELVIEWER")).put(ascii("jCIFS"));
    }
    r.bytes = b.b;
    return r;
}

inline Req tree_connect_req(const std::string &path, uint16_t flags = 0x000C, bool unicode = true)
{
    Req r;
    r.cmd = 0x75;
    r.flags2 = unicode ? kUnicodeFlags2 : kOemFlags2;
    r.words = W{}.u8(0xFF).u8(0).u16(0).u16(flags).u16(1).b;
    W b;
    b.u8(0);  // empty password; the path then starts at an even offset
    b.put(unicode ? utf16(path) : ascii(path));
    b.put(ascii(path.size() >= 4 && vnb_casecmp(path.substr(path.size() - 4).c_str(), "IPC$") == 0 ? "IPC" : "A:"));
    r.bytes = b.b;
    return r;
}

inline Req nt_create_req(uint16_t tid, const std::string &name, bool folder, uint32_t disposition = 1,
                         uint32_t access = 0x89)
{
    Req r;
    r.cmd = 0xA2;
    r.tid = tid;
    Bytes nm = name.empty() ? Bytes{} : utf16(name);
    W w;
    w.u8(0xFF).u8(0).u16(0).u8(0).u16(static_cast<uint32_t>(nm.size())).u32(0).u32(0).u32(access).u64(0);
    w.u32(0).u32(7).u32(disposition).u32(folder ? 1 : 0).u32(2).u8(3);
    r.words = w.b;
    r.bytes = W{}.u8(0).put(nm).b;
    if (nm.empty())
        r.bytes.insert(r.bytes.end(), {0, 0});
    return r;
}

inline Req logoff_req()
{
    Req r;
    r.cmd = 0x74;
    r.words = W{}.u8(0xFF).u8(0).u16(0).b;
    return r;
}

inline Req read_req(uint16_t tid, uint16_t fid, uint64_t offset, uint16_t max)
{
    Req r;
    r.cmd = 0x2E;
    r.tid = tid;
    r.words = W{}.u8(0xFF).u8(0).u16(0).u16(fid).u32(static_cast<uint32_t>(offset)).u16(max).u16(max).u32(0)
                  .u16(0).u32(static_cast<uint32_t>(offset >> 32)).b;
    return r;
}

inline Req close_req(uint16_t tid, uint16_t fid)
{
    Req r;
    r.cmd = 0x04;
    r.tid = tid;
    r.words = W{}.u16(fid).u32(0xFFFFFFFF).b;
    return r;
}

// TRANSACTION2 with one setup word; the parameters follow ByteCount directly
// (after a pad byte that puts them at an even offset).
inline Req trans2_req(uint16_t tid, uint16_t sub, const Bytes &params, uint16_t max_data = 0xFFFF)
{
    Req r;
    r.cmd = 0x32;
    r.tid = tid;
    size_t param_off = 32 + 1 + 30 + 2 + 1;  // 15 words, ByteCount, pad
    W w;
    w.u16(static_cast<uint32_t>(params.size())).u16(0).u16(10).u16(max_data).u8(0).u8(0).u16(0).u32(0).u16(0);
    w.u16(static_cast<uint32_t>(params.size())).u16(static_cast<uint32_t>(param_off)).u16(0).u16(0);
    w.u8(1).u8(0).u16(sub);
    r.words = w.b;
    r.bytes = W{}.u8(0).put(params).b;
    return r;
}

inline Bytes find_first_params(const std::string &pattern, uint16_t count = 200, uint16_t flags = 0,
                               uint16_t level = 0x0104)
{
    return W{}.u16(0x37).u16(count).u16(flags).u16(level).u32(0).put(utf16(pattern)).b;
}

inline Bytes find_next_params(uint16_t sid, uint16_t count = 200, uint16_t flags = 0,
                              const std::string &resume = "")
{
    return W{}.u16(sid).u16(count).u16(0x0104).u32(0).u16(flags).put(utf16(resume)).b;
}

inline Req find_close2_req(uint16_t tid, uint16_t sid)
{
    Req r;
    r.cmd = 0x34;
    r.tid = tid;
    r.words = W{}.u16(sid).b;
    return r;
}

// TRANSACTION on \PIPE\ carrying one PDU (TransactNmPipe, Setup[1] = FID).
inline Req trans_pipe_req(uint16_t fid, const Bytes &pdu, uint16_t max_data = 0xFFE0)
{
    Req r;
    r.cmd = 0x25;
    r.tid = kIpcTree;
    // 16 words and ByteCount; then a pad byte, "\PIPE\" with its NUL and a
    // pad that makes the block's length even, as the library's client sends.
    size_t data_off = 32 + 1 + 32 + 2 + 1 + 14 + 1;
    W w;
    w.u16(0).u16(static_cast<uint32_t>(pdu.size())).u16(1024).u16(max_data).u8(0).u8(0).u16(0).u32(0).u16(0);
    w.u16(0).u16(static_cast<uint32_t>(data_off)).u16(static_cast<uint32_t>(pdu.size()))
        .u16(static_cast<uint32_t>(data_off));
    w.u8(2).u8(0).u16(0x0026).u16(fid);
    r.words = w.b;
    r.bytes = W{}.u8(0).put(utf16("\\PIPE\\")).u8(0).put(pdu).b;
    return r;
}

inline Bytes srvsvc_bind(uint32_t call_id = 1, uint16_t max_recv = 3344)
{
    static const uint8_t uuid[16] = {0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01,
                                     0x12, 0x78, 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88};
    static const uint8_t ndr[16] = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                                    0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60};
    W w;
    w.u8(5).u8(0).u8(11).u8(3).u32(0x10).u16(72).u16(0).u32(call_id);
    w.u16(max_recv).u16(max_recv).u32(0).u8(1).zeros(3).u16(0).u8(1).u8(0);
    w.put(uuid, 16).u16(3).u16(0).put(ndr, 16).u32(2);
    return w.b;
}

inline Bytes srvsvc_request(uint16_t opnum = 15, uint32_t call_id = 2)
{
    W w;
    w.u8(5).u8(0).u8(0).u8(3).u32(0x10).u16(72).u16(0).u32(call_id);
    w.u32(0x00200000).u16(0).u16(opnum);
    w.u32(0x00020000).u32(1).u32(0).u32(1).u16(0).u16(0);
    w.u32(1).u32(1).u32(0x00020000).u32(0).u32(0).u32(0xFFFFFFFF).u32(0);
    return w.b;
}

// ---- a logged-on client ----

// Loads a tree, negotiates and logs on; then signs its requests when the
// connection signs, and hands out MIDs.
class Client {
public:
    uint16_t uid = 0;
    uint16_t mid = 0;
    bool signing = false;
    Bytes mac_key;
    uint32_t seq = 0;
    uint16_t flags2 = kUnicodeFlags2;
    FakeConnection *conn = nullptr;  // NULL: the process-default connection

    // The request as send() would put it on the wire (MID, UID, flags2 and
    // signature filled in).
    Bytes prepare(Req r)
    {
        r.mid = ++mid;
        if (r.uid == 0)
            r.uid = uid;
        if (r.flags2 == kUnicodeFlags2)
            r.flags2 = flags2;
        Bytes m = build(r);
        if (signing) {
            vnb_sign_frame(mac_key.data(), mac_key.size(), seq, m.data(), m.size());
            seq += 2;
        }
        return m;
    }

    Reply send(Req r)
    {
        uint32_t s = seq;
        Bytes m = prepare(r);
        Reply rep = fk::exchange(m, conn);
        if (signing && rep.present) {
            EXPECT_EQ(1, vnb_sign_verify(mac_key.data(), mac_key.size(), s + 1, rep.msg.data(), rep.msg.size()))
                << "reply to command " << int(r.cmd) << " not signed with " << s + 1;
        }
        return rep;
    }

    Reply negotiate() { return send(negotiate_req()); }

    // Extended-security logon, raw NTLMSSP or in SPNEGO: the final reply.
    Reply logon(const std::string &user, const std::string &pass, bool spnego = true, const char *domain = "")
    {
        ByteBuffer t1{};
        vnb_ntlm_build_type1(&t1);
        ByteBuffer tok{};
        if (spnego)
            vnb_spnego_wrap_type1(t1.data, t1.len, &tok);
        else
            vnb_buf_put(&tok, t1.data, t1.len);
        Reply leg1 = send(session_setup_ext(buf_bytes(tok)));
        vnb_buf_free(&t1);
        vnb_buf_free(&tok);
        EXPECT_EQ(STATUS_MORE_PROCESSING_REQUIRED, leg1.status());
        uid = leg1.uid();
        return logon_leg2(leg1, user, pass, spnego, domain);
    }

    Reply logon_leg2(const Reply &leg1, const std::string &user, const std::string &pass, bool spnego,
                     const char *domain = "")
    {
        Bytes blob = leg1.slice(leg1.bc_offset() + 2, leg1.word(3));
        const uint8_t *t2 = nullptr;
        size_t t2_len = 0;
        int raw = 0;
        EXPECT_EQ(0, vnb_spnego_unwrap_resp(blob.data(), blob.size(), &t2, &t2_len, &raw));
        NtlmChallenge ch{};
        EXPECT_EQ(0, vnb_ntlm_parse_type2(t2, t2_len, &ch));
        ByteBuffer t3{};
        uint8_t key[16];
        EXPECT_EQ(0, vnb_ntlm_build_type3(&ch, domain, user.c_str(), pass.c_str(), 1700000000, &t3, key));
        ByteBuffer tok{};
        if (spnego)
            vnb_spnego_wrap_type3(t3.data, t3.len, &tok);
        else
            vnb_buf_put(&tok, t3.data, t3.len);
        last_type3 = buf_bytes(t3);
        Reply r = send(session_setup_ext(buf_bytes(tok), uid));
        vnb_buf_free(&t3);
        vnb_buf_free(&tok);
        session_key.assign(key, key + 16);
        return r;
    }

    // Switches request signing on after a logon the server signs (reply seq 1).
    void start_signing(const Reply &final_reply, const Bytes &key)
    {
        mac_key = key;
        EXPECT_EQ(1, vnb_sign_verify(key.data(), key.size(), 1, final_reply.msg.data(), final_reply.msg.size()));
        signing = true;
        seq = 2;
    }

    uint16_t connect(const std::string &share)
    {
        Reply r = send(tree_connect_req("\\\\fake\\" + share));
        EXPECT_EQ(0u, r.status()) << share;
        return r.tid();
    }

    // FID of an opened file or folder, or 0 after a failure.
    uint16_t open(uint16_t tid, const std::string &path, bool folder)
    {
        Reply r = send(nt_create_req(tid, path, folder));
        return r.status() == 0 ? r16(r.msg, 38) : 0;
    }

    Bytes session_key;
    Bytes last_type3;
};

}  // namespace fk
