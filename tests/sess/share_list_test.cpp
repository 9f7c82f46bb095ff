// The share listing over \PIPE\srvsvc: the PDUs sent, the NDR decoding of
// NetShareEnumAll with lying counts and offsets, fragment reassembly, the
// pipe transaction and pipe reads against a scripted server, and the whole
// listing against the fake server.
#include <functional>
#include <string>
#include <utility>

#include "fake/fake.h"
#include "net/net.h"
#include "sess/share_list.h"
#include "sess/support/sess_fixture.h"
#include "sess/trans.h"
#include "util/status.h"
#include "util/text.h"

namespace {

using sp::Bytes;
using sp::get16;
using sp::get32;
using sp::put16;
using sp::put32;
using sp::put8;

constexpr const char *kNotEnum = "srvsvc reply is not a level-1 NetShareEnumAll";

void set32(Bytes &b, size_t off, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes slice(const Bytes &b, size_t from, size_t to)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes wide(const std::string &s)
{
    Bytes out(2 * s.size() + 2);
    int32_t n = 0;
    EXPECT_EQ(vnb_utf8_to_utf16le(s.c_str(), out.data(), static_cast<int32_t>(out.size()), &n), 0);
    out.resize(static_cast<size_t>(n));
    return out;
}

Bytes joined(Bytes a, const Bytes &b)
{
    sp::append(a, b);
    return a;
}

Bytes to_bytes(const ByteBuffer &b)
{
    return Bytes(b.data, b.data + b.len);
}

// ---- NDR of a NetShareEnumAll level-1 answer ----

struct Share {
    std::string name;
    std::string remark;
};

Bytes ndr_string(const std::string &s)
{
    Bytes units = wide(s);
    uint32_t count = static_cast<uint32_t>(units.size() / 2 + 1);
    Bytes b;
    put32(b, count);
    put32(b, 0);
    put32(b, count);
    sp::append(b, units);
    put16(b, 0);
    if (count % 2)
        put16(b, 0);
    return b;
}

struct EnumStub {
    std::vector<Share> shares;
    bool null_buffer = false;
    bool resume_handle = false;
    uint32_t status = 0;
};

Bytes enum_stub(const EnumStub &e)
{
    uint32_t n = static_cast<uint32_t>(e.shares.size());
    Bytes b;
    put32(b, 1);           // level
    put32(b, 1);           // switch
    put32(b, 0x00020000);  // container
    put32(b, n);
    put32(b, e.null_buffer ? 0 : 0x00020004);
    if (!e.null_buffer) {
        put32(b, n);
        for (uint32_t k = 0; k < n; k++) {
            put32(b, 0x00020008 + 8 * k);
            put32(b, 0);
            put32(b, 0x0002000C + 8 * k);
        }
        for (const Share &s : e.shares) {
            sp::append(b, ndr_string(s.name));
            sp::append(b, ndr_string(s.remark));
        }
    }
    put32(b, n);  // TotalEntries
    put32(b, e.resume_handle ? 0x00020100 : 0);
    if (e.resume_handle)
        put32(b, 7);
    put32(b, e.status);
    return b;
}

// A response fragment around a piece of stub.
Bytes response(const Bytes &stub, uint8_t flags = 0x03, uint32_t call_id = 2)
{
    Bytes b{5, 0, 2, flags, 0x10, 0, 0, 0};
    put16(b, static_cast<uint32_t>(24 + stub.size()));
    put16(b, 0);
    put32(b, call_id);
    put32(b, static_cast<uint32_t>(stub.size()));  // alloc_hint
    put16(b, 0);
    put8(b, 0);
    put8(b, 0);
    sp::append(b, stub);
    return b;
}

// The stub cut into `parts` fragments, flagged first and last as they come.
std::vector<Bytes> fragments(const Bytes &stub, size_t parts)
{
    std::vector<Bytes> out;
    size_t step = (stub.size() + parts - 1) / parts;
    for (size_t at = 0; at < stub.size(); at += step) {
        size_t end = std::min(stub.size(), at + step);
        uint8_t flags = static_cast<uint8_t>((at == 0 ? 1 : 0) | (end == stub.size() ? 2 : 0));
        out.push_back(response(slice(stub, at, end), flags));
    }
    return out;
}

std::vector<Share> named(std::initializer_list<const char *> names)
{
    std::vector<Share> out;
    for (const char *n : names)
        out.push_back({n, std::string("remark of ") + n});
    return out;
}

std::vector<std::string> table(const Session &s)
{
    std::vector<std::string> out;
    for (int i = 0; i < s.share_count; i++)
        out.emplace_back(s.share_names[i]);
    return out;
}

// ---- PDUs sent ----

TEST(SrvsvcPdu, BindAndRequestAsOnTheWire)
{
    const Bytes bind{
        5, 0, 11, 3, 0x10, 0, 0, 0, 72, 0, 0, 0, 1, 0, 0, 0,       // header, call_id 1
        0x10, 0x0D, 0x10, 0x0D, 0, 0, 0, 0,                        // max frags 3344, assoc group
        1, 0, 0, 0, 0, 0, 1, 0,                                    // one context, id 0, one syntax
        0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01, 0x12, 0x78, 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88,
        3, 0, 0, 0,                                                // srvsvc 3.0
        0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11, 0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60,
        2, 0, 0, 0};
    const Bytes request{
        5, 0, 0, 3, 0x10, 0, 0, 0, 72, 0, 0, 0, 2, 0, 0, 0,  // header, call_id 2
        0, 0, 0x20, 0, 0, 0, 15, 0,                           // alloc_hint, context 0, opnum 15
        0, 0, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,  // ServerName "" and padding
        1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // level, switch, container
        0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};                 // PreferedMaximumLength, ResumeHandle
    ByteBuffer b{};
    srvsvc_build_bind(&b, 1);
    EXPECT_EQ(to_bytes(b), bind);
    vnb_buf_free(&b);
    srvsvc_build_request(&b, 2);
    EXPECT_EQ(to_bytes(b), request);
    vnb_buf_free(&b);
}

// ---- decoding ----

class SrvsvcDecode : public sp::SessTest {};

TEST_F(SrvsvcDecode, AdministrativeNamesAreLeftOut)
{
    Bytes pdu = response(enum_stub({named({"IPC$", "ADMIN$", "C$", "print$", "D$", "music", "Print$", "ipc$"})}));
    ASSERT_EQ(srvsvc_parse_enum(s, pdu.data(), pdu.size()), 0);
    EXPECT_EQ(table(s), (std::vector<std::string>{"D$", "music", "Print$", "ipc$"}));
}

TEST_F(SrvsvcDecode, AcceptedShapes)
{
    const std::string name80(80, 'n');
    const std::string wide80 = std::string(78, 'n') + "\xC3\xA9";  // 80 UTF-8 bytes
    struct Case {
        const char *what;
        EnumStub stub;
        std::vector<std::string> names;
        size_t pdu_len;  // 0: not checked
    } cases[] = {
        {"null buffer", {{}, true}, {}, 56},
        {"no entries", {{}}, {}, 60},
        {"odd and even lengths", {{{"ab", "odd"}, {"abc", "even!"}, {"x", ""}}}, {"ab", "abc", "x"}, 0},
        {"80-byte names", {{{name80, "r"}, {wide80, "r"}}}, {name80, wide80}, 0},
        {"resume handle", {named({"a"}), false, true}, {"a"}, 0},
        {"long remark", {{{"m", std::string(300, 'r')}}}, {"m"}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes pdu = response(enum_stub(c.stub));
        if (c.pdu_len) {
            EXPECT_EQ(pdu.size(), c.pdu_len);
        }
        s.share_count = 99;
        ASSERT_EQ(srvsvc_parse_enum(s, pdu.data(), pdu.size()), 0);
        EXPECT_EQ(table(s), c.names);
    }
}

// More shares than the table holds fail the listing instead of showing
// part of them as all; administrative ones do not count.
TEST_F(SrvsvcDecode, SharesBeyondTheTableFailTheListing)
{
    struct Case {
        int shares;
        int admin;
        int rc;
    };
    const Case cases[] = {{256, 0, 0}, {256, 4, 0}, {257, 0, -7}, {300, 0, -7}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.shares);
        EnumStub e;
        const char *const admin[] = {"IPC$", "ADMIN$", "C$", "print$"};
        for (int i = 0; i < c.admin; i++)
            e.shares.push_back({admin[i], "r"});
        for (int i = 0; i < c.shares; i++)
            e.shares.push_back({"share" + std::to_string(i), "r"});
        Bytes pdu = response(enum_stub(e));
        s.share_count = 3;
        ASSERT_EQ(srvsvc_parse_enum(s, pdu.data(), pdu.size()), c.rc);
        if (c.rc == 0) {
            ASSERT_EQ(s.share_count, c.shares);
            EXPECT_STREQ(s.share_names[255], "share255");
        } else {
            EXPECT_EQ(s.share_count, 0);
            EXPECT_STREQ(vnb_error(), "the server lists more than 256 shares, the most the library holds");
        }
    }
}

TEST_F(SrvsvcDecode, LyingRepliesAreRefused)
{
    // Two shares "ab" and "cde": entries at 48 and 60, strings from 72.
    const Bytes good = response(enum_stub({{{"ab", "x"}, {"cde", "yz"}}}));
    constexpr size_t kName0 = 72;
    struct Case {
        const char *what;
        std::function<void(Bytes &)> lie;
    } cases[] = {
        {"level 2", [](Bytes &b) { set32(b, 24, 2); }},
        {"switch 2", [](Bytes &b) { set32(b, 28, 2); }},
        {"netname referent 0", [](Bytes &b) { set32(b, 60, 0); }},
        {"remark referent 0", [](Bytes &b) { set32(b, 56, 0); }},
        {"count beyond the reply", [](Bytes &b) { set32(b, 36, 0x7FFFFFFF); set32(b, 44, 0x7FFFFFFF); }},
        {"count 2^32-1", [](Bytes &b) { set32(b, 36, 0xFFFFFFFF); set32(b, 44, 0xFFFFFFFF); }},
        {"array size differs from count", [](Bytes &b) { set32(b, 44, 1); }},
        {"actual count above maximum", [](Bytes &b) { set32(b, kName0, 2); }},
        {"string offset", [](Bytes &b) { set32(b, kName0 + 4, 1); }},
        {"actual count 65536", [](Bytes &b) { set32(b, kName0, 65536); set32(b, kName0 + 8, 65536); }},
        {"actual count past the end", [](Bytes &b) { set32(b, kName0, 1000); set32(b, kName0 + 8, 1000); }},
        {"NUL inside a name", [](Bytes &b) { b[kName0 + 12] = 0; }},
        {"unpaired surrogate", [](Bytes &b) { b[kName0 + 12] = 0x00; b[kName0 + 13] = 0xD8; }},
        {"status 5", [](Bytes &b) { set32(b, b.size() - 4, 5); }},
        {"status cut off", [](Bytes &b) { b.pop_back(); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes pdu = good;
        c.lie(pdu);
        EXPECT_EQ(srvsvc_parse_enum(s, pdu.data(), pdu.size()), -1);
    }
    // The names are in the table before the status is looked at.
    Bytes denied = good;
    set32(denied, denied.size() - 4, 5);
    ASSERT_EQ(srvsvc_parse_enum(s, denied.data(), denied.size()), -1);
    EXPECT_EQ(table(s), (std::vector<std::string>{"ab", "cde"}));
}

TEST_F(SrvsvcDecode, NamesLongerThan80BytesFailTheListing)
{
    for (const std::string &name : {std::string(81, 'n'), std::string(79, 'n') + "\xC3\xA9"}) {
        Bytes pdu = response(enum_stub({{{"ok", "r"}, {name, "r"}}}));
        s.share_count = 5;
        EXPECT_EQ(srvsvc_parse_enum(s, pdu.data(), pdu.size()), -1);
        EXPECT_EQ(s.share_count, 5);  // the caller has set it to 0 before
    }
}

TEST_F(SrvsvcDecode, EveryCutReplyIsRefused)
{
    const Bytes pdu = response(enum_stub({named({"IPC$", "music", "films"})}));
    for (size_t n = 0; n < pdu.size(); n++) {
        Bytes cut = slice(pdu, 0, n);  // its own allocation, so reads past n are caught
        EXPECT_EQ(srvsvc_parse_enum(s, cut.data(), cut.size()), -1) << n;
    }
    EXPECT_EQ(srvsvc_parse_enum(s, pdu.data(), pdu.size()), 0);
}

TEST(SrvsvcNdr, StringsAdvanceOverTheirPadding)
{
    Bytes b = ndr_string("odd");  // 4 units: no padding
    sp::append(b, ndr_string("even"));  // 5 units: 2 padding bytes
    sp::append(b, ndr_string("z"));
    size_t pos = 0;
    char out[81];
    ASSERT_TRUE(ndr_str(b.data(), b.size(), &pos, out, sizeof out));
    EXPECT_STREQ(out, "odd");
    EXPECT_EQ(pos, 20u);
    ASSERT_TRUE(ndr_str(b.data(), b.size(), &pos, out, sizeof out));
    EXPECT_STREQ(out, "even");
    EXPECT_EQ(pos, 20u + 12 + 12);
    ASSERT_TRUE(ndr_str(b.data(), b.size(), &pos, nullptr, 0));
    EXPECT_EQ(pos, b.size());

    // Actual count 0: the empty text; the position stays after the counts.
    Bytes empty(12, 0);
    pos = 0;
    ASSERT_TRUE(ndr_str(empty.data(), empty.size(), &pos, out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(pos, 12u);
}

// ---- fragments ----

TEST(SrvsvcFragments, JoinedStubsReadAsOneResponse)
{
    EnumStub e;
    for (int i = 0; i < 40; i++)
        e.shares.push_back({"share" + std::to_string(i), "remark"});
    const Bytes stub = enum_stub(e);
    for (size_t parts : {1, 2, 3, 7}) {
        SCOPED_TRACE(parts);
        Bytes stream;
        for (const Bytes &f : fragments(stub, parts))
            sp::append(stream, f);
        // Every proper prefix asks for more.
        for (size_t n = 0; n < stream.size(); n++)
            ASSERT_EQ(srvsvc_join_fragments(stream.data(), n, 2, nullptr), 0) << n;
        sp::append(stream, Bytes{0xAA, 0xBB});  // bytes after the last fragment are left alone
        ByteBuffer pdu{};
        ASSERT_EQ(srvsvc_join_fragments(stream.data(), stream.size(), 2, &pdu), 1);
        Bytes joined = to_bytes(pdu);
        vnb_buf_free(&pdu);
        ASSERT_EQ(joined.size(), 24 + stub.size());
        EXPECT_EQ(slice(joined, 24, joined.size()), stub);
    }
}

TEST(SrvsvcFragments, OtherPdusAreRefused)
{
    const Bytes good = response(enum_stub({named({"a"})}));
    struct Case {
        const char *what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"version 4", 0, 4},           {"minor version 1", 1, 1}, {"fault PDU", 2, 3},
        {"bind_ack", 2, 12},           {"big-endian", 4, 0x00},   {"call id 1", 12, 1},
        {"frag_length 23", 8, 23},     {"auth_length", 10, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes pdu = good;
        pdu[c.at] = c.value;
        if (c.at == 8)
            pdu[9] = 0;
        EXPECT_EQ(srvsvc_join_fragments(pdu.data(), pdu.size(), 2, nullptr), -1);
    }
    // A bad second fragment spoils the run too.
    std::vector<Bytes> f = fragments(enum_stub({named({"a", "b", "c"})}), 2);
    f[1][2] = 3;
    Bytes stream = f[0];
    sp::append(stream, f[1]);
    EXPECT_EQ(srvsvc_join_fragments(stream.data(), stream.size(), 2, nullptr), -1);
}

// ---- against a scripted server ----

// TRANSACTION reply carrying data (WordCount 10, data right after one pad
// byte and ending with the message).
Bytes trans_reply(const Bytes &req, uint32_t status, const Bytes &data)
{
    Bytes w;
    put16(w, 0);                                         // TotalParameterCount
    put16(w, static_cast<uint32_t>(data.size()));        // TotalDataCount
    put16(w, 0);
    put16(w, 0);                                         // ParameterCount
    put16(w, 56);                                        // ParameterOffset
    put16(w, 0);
    put16(w, static_cast<uint32_t>(data.size()));        // DataCount
    put16(w, 56);                                        // DataOffset
    put16(w, 0);
    put8(w, 0);                                          // SetupCount
    put8(w, 0);
    Bytes bytes{0};
    sp::append(bytes, data);
    return sp::reply_to(req, status, w, bytes);
}

Bytes read_reply(const Bytes &req, uint32_t status, const Bytes &data)
{
    Bytes w{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put16(w, static_cast<uint32_t>(data.size()));
    put16(w, 60);
    put16(w, 0);
    w.resize(24, 0);
    Bytes bytes{0};
    sp::append(bytes, data);
    return sp::reply_to(req, status, w, bytes);
}

// One piece of the pipe's answer: the status and data of a reply.
using Piece = std::pair<uint32_t, Bytes>;

// A server with an IPC$ tree and the srvsvc pipe. The NetShareEnumAll
// TRANSACTION is answered with piece 0, each READ_ANDX with the next one.
struct PipeServer {
    uint16_t tid = 0x0801;
    uint16_t fid = 0x4007;
    uint32_t tree_status = 0;
    uint32_t create_status = 0;
    uint32_t bind_status = 0;
    uint32_t close_status = 0;
    std::function<Piece(size_t)> piece;
    std::function<void(Bytes &)> spoil_trans;  // applied to the NetShareEnumAll TRANSACTION reply
    size_t next = 0;

    std::vector<Bytes> operator()(const Bytes &req)
    {
        Bytes r;
        switch (sp::command_of(req)) {
        case 0x75:
            r = sp::reply_to(req, tree_status, Bytes{0xFF, 0, 0, 0, 1, 0});
            r[24] = static_cast<uint8_t>(tid);
            r[25] = static_cast<uint8_t>(tid >> 8);
            break;
        case 0xA2: {
            Bytes w(68, 0);
            w[0] = 0xFF;
            w[5] = static_cast<uint8_t>(fid);
            w[6] = static_cast<uint8_t>(fid >> 8);
            r = create_status ? sp::reply_to(req, create_status) : sp::reply_to(req, 0, w);
            break;
        }
        case 0x25: {
            size_t data_offset = get16(req, 57);
            bool bind = data_offset < req.size() && req[data_offset + 2] == 11;
            if (bind) {
                r = bind_status ? sp::reply_to(req, bind_status) : trans_reply(req, 0, Bytes(68, 0x42));
            } else {
                Piece p = piece(next++);
                r = trans_reply(req, p.first, p.second);
                if (spoil_trans)
                    spoil_trans(r);
            }
            break;
        }
        case 0x2E: {
            Piece p = piece(next++);
            r = read_reply(req, p.first, p.second);
            break;
        }
        case 0x04:
            r = sp::reply_to(req, close_status);
            break;
        default:
            r = sp::reply_to(req, STATUS_NOT_SUPPORTED);
        }
        return {r};
    }
};

std::function<Piece(size_t)> pieces(std::vector<Piece> list)
{
    return [list](size_t i) { return i < list.size() ? list[i] : Piece{STATUS_INVALID_HANDLE, {}}; };
}

std::vector<uint8_t> commands(const std::vector<Bytes> &requests)
{
    std::vector<uint8_t> out;
    for (const Bytes &r : requests)
        out.push_back(sp::command_of(r));
    return out;
}

class ShareList : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        s.max_buffer = 16644;
        s.timeout_ms = 1000;
    }
    void serve(PipeServer &server)
    {
        peer.respond = [&server](const Bytes &req) { return server(req); };
    }
};

TEST_F(ShareList, RequestsAlongTheWay)
{
    const Bytes answer = response(enum_stub({named({"IPC$", "music", "films"})}));
    for (uint32_t flags2 : {0xC801u, 0x4801u}) {
        SCOPED_TRACE(flags2);
        sess_reset(s);
        peer.requests.clear();
        peer.out.clear();  // a new connection: the last one's late CLOSE reply went with it
        s.flags2 = flags2;
        PipeServer server;
        server.piece = pieces({{0, answer}});
        serve(server);
        ASSERT_EQ(vnb_srvsvc_share_enum(s), 0) << vnb_error();
        EXPECT_EQ(table(s), (std::vector<std::string>{"music", "films"}));
        ASSERT_EQ(commands(peer.requests), (std::vector<uint8_t>{0x75, 0xA2, 0x25, 0x25, 0x04}));

        const Bytes &create = peer.requests[1];
        EXPECT_EQ(sp::tid_of(create), 0x0801);
        EXPECT_EQ(get32(create, 72), 0x40u);  // CreateOptions: FILE_NON_DIRECTORY_FILE
        if (flags2 & 0x8000) {
            EXPECT_EQ(get16(create, 38), 16);  // NameLength with the terminator
            EXPECT_EQ(slice(create, 84, create.size() - 2), sp::utf16("\\srvsvc"));
        } else {
            EXPECT_EQ(get16(create, 38), 8);  // 8-bit, no pad byte
            EXPECT_EQ(slice(create, 83, create.size()), (Bytes{'\\', 's', 'r', 'v', 's', 'v', 'c', 0}));
        }

        ByteBuffer b{};
        srvsvc_build_bind(&b, 1);
        const Bytes bind = to_bytes(b);
        vnb_buf_free(&b);
        srvsvc_build_request(&b, 2);
        const Bytes request = to_bytes(b);
        vnb_buf_free(&b);
        for (size_t i : {2, 3}) {
            const Bytes &t = peer.requests[i];
            EXPECT_EQ(sp::tid_of(t), 0x0801);
            ASSERT_EQ(t[32], 16);
            EXPECT_EQ(get16(t, 33), 0);        // TotalParameterCount
            EXPECT_EQ(get16(t, 35), 72);       // TotalDataCount
            EXPECT_EQ(get16(t, 37), 1024);     // MaxParameterCount
            EXPECT_EQ(get16(t, 39), 0xFFFF);
            EXPECT_EQ(get32(t, 45), 1000u);    // Timeout
            EXPECT_EQ(get16(t, 55), 72);       // DataCount
            EXPECT_EQ(t[59], 2);               // SetupCount
            EXPECT_EQ(get16(t, 61), 0x0026);   // TransactNmPipe
            EXPECT_EQ(get16(t, 63), 0x4007);   // the pipe's FID
            size_t data_offset = get16(t, 57);
            EXPECT_EQ(data_offset % 4, 0u);
            EXPECT_EQ(slice(t, data_offset, t.size()), i == 2 ? bind : request);
            Bytes name = flags2 & 0x8000 ? sp::utf16("\\PIPE\\") : Bytes{'\\', 'P', 'I', 'P', 'E', '\\'};
            size_t name_at = flags2 & 0x8000 ? 68 : 67;  // UTF-16 on an even offset
            EXPECT_EQ(slice(t, name_at, name_at + name.size()), name);
        }
        EXPECT_EQ(get16(peer.requests[4], 33), 0x4007);  // CLOSE of the pipe
    }
    // IPC$ stays connected: the next listing starts with the open.
    peer.requests.clear();
    PipeServer server;
    server.piece = pieces({{0, answer}});
    serve(server);
    ASSERT_EQ(vnb_srvsvc_share_enum(s), 0) << vnb_error();
    EXPECT_EQ(commands(peer.requests), (std::vector<uint8_t>{0xA2, 0x25, 0x25, 0x04}));
}

TEST_F(ShareList, FragmentedAnswersAreReadToTheLastFragment)
{
    EnumStub e;
    for (int i = 0; i < 60; i++)
        e.shares.push_back({"s" + std::to_string(i), "a share with a remark"});
    std::vector<Bytes> two = fragments(enum_stub(e), 2);
    std::vector<Bytes> three = fragments(enum_stub(e), 3);
    Bytes f1 = three[0];
    Bytes f2 = three[1];
    Bytes f3 = three[2];
    constexpr uint32_t kOverflow = STATUS_BUFFER_OVERFLOW;
    struct Case {
        const char *what;
        std::vector<Piece> pieces;
    } cases[] = {
        {"one fragment per message", {{0, two[0]}, {0, two[1]}}},
        {"three, the first split with BUFFER_OVERFLOW",
         {{kOverflow, slice(f1, 0, 100)}, {kOverflow, slice(f1, 100, 700)}, {0, slice(f1, 700, f1.size())},
          {0, f2}, {0, f3}}},
        {"fragments across reads",
         {{0, slice(f1, 0, 10)}, {0, joined(slice(f1, 10, f1.size()), slice(f2, 0, 3))}, {0, slice(f2, 3, f2.size())},
          {0, f3}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        peer.requests.clear();
        PipeServer server;
        server.piece = pieces(c.pieces);
        serve(server);
        ASSERT_EQ(vnb_srvsvc_share_enum(s), 0) << vnb_error();
        ASSERT_EQ(s.share_count, 60);
        EXPECT_STREQ(s.share_names[59], "s59");
        EXPECT_EQ(server.next, c.pieces.size());
        size_t reads = 0;
        for (const Bytes &r : peer.requests) {
            if (sp::command_of(r) != 0x2E)
                continue;
            reads++;
            EXPECT_EQ(get16(r, 37), 0x4007);  // the pipe's FID
            EXPECT_EQ(get32(r, 39), 0u);
            EXPECT_EQ(get16(r, 43), kClientMaxBuffer - 64);
        }
        EXPECT_EQ(reads, c.pieces.size() - 1);
        EXPECT_EQ(sp::command_of(peer.requests.back()), 0x04);
    }
}

TEST_F(ShareList, FailuresCloseThePipeAndKeepTheirText)
{
    const Bytes stub = enum_stub({named({"music", "films"})});
    const std::vector<Bytes> two = fragments(stub, 2);
    Bytes fault = response(Bytes(8, 0));
    fault[2] = 3;
    Bytes denied = stub;
    set32(denied, denied.size() - 4, 5);
    struct Case {
        const char *what;
        std::function<void(PipeServer &)> setup;
        int32_t rc;
        std::string text;
        int32_t shares;
        uint32_t recorded = 0xDEAD;  // last_status afterwards; 0xDEAD: untouched
    } cases[] = {
        {"bind refused", [](PipeServer &s) { s.bind_status = STATUS_ACCESS_DENIED; }, -3,
         "TRANS \\PIPE\\: ACCESS_DENIED", 0, STATUS_ACCESS_DENIED},
        {"fault PDU", [&](PipeServer &s) { s.piece = pieces({{0, fault}}); }, -2, kNotEnum, 0},
        {"WERROR 5", [&](PipeServer &s) { s.piece = pieces({{0, response(denied)}}); }, -2, kNotEnum, 2},
        {"pipe read fails", [&](PipeServer &s) { s.piece = pieces({{0, two[0]}, {STATUS_INVALID_HANDLE, {}}}); }, -5,
         "READ \\PIPE\\: INVALID_HANDLE", 0, STATUS_INVALID_HANDLE},
        {"pipe read empty", [&](PipeServer &s) { s.piece = pieces({{0, two[0]}, {0, {}}}); }, -2,
         "the pipe answered no data", 0},
        {"TRANS WordCount 9",
         [&](PipeServer &s) {
             s.piece = pieces({{0, two[0]}});
             s.spoil_trans = [](Bytes &r) { r[32] = 9; };
         },
         -2, "TRANS reply WordCount 9", 0},
        {"TRANS DataCount 0",
         [&](PipeServer &s) {
             s.piece = pieces({{0, two[0]}});
             s.spoil_trans = [](Bytes &r) { r[35] = r[36] = r[45] = r[46] = 0; };
         },
         -2, "the pipe answered no data", 0},
        {"TRANS data one byte beyond",
         [&](PipeServer &s) {
             s.piece = pieces({{0, two[0]}});
             s.spoil_trans = [](Bytes &r) { r[47] = 57; };
         },
         -2, "the pipe data lies outside the frame", 0},
        {"TRANS status",
         [&](PipeServer &s) { s.piece = pieces({{STATUS_INVALID_PARAMETER, {}}}); }, -2,
         "TRANS \\PIPE\\: INVALID_PARAMETER", 0, STATUS_INVALID_PARAMETER},
        {"endless fragments",
         [](PipeServer &s) {
             s.piece = [](size_t) { return Piece{0, response(Bytes(16000, 0), 0)}; };
         },
         -7, "the srvsvc reply exceeds 4194304 bytes", 0},
        {"trickling pipe",
         [](PipeServer &s) {
             Bytes head = slice(response(Bytes(60000, 0), 1), 0, 24);
             s.piece = [head](size_t i) { return i == 0 ? Piece{0, head} : Piece{0, Bytes{0}}; };
         },
         -7, "the srvsvc reply takes more than 4096 reads", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        peer.requests.clear();
        PipeServer server;
        server.piece = pieces({{0, response(stub)}});
        server.close_status = STATUS_INVALID_HANDLE;  // a failing close changes nothing
        c.setup(server);
        serve(server);
        s.last_status = 0xDEAD;
        EXPECT_EQ(vnb_srvsvc_share_enum(s), c.rc);
        EXPECT_EQ(vnb_error(), c.text);
        EXPECT_EQ(s.share_count, c.shares);
        ASSERT_FALSE(peer.requests.empty());
        EXPECT_EQ(sp::command_of(peer.requests.back()), 0x04);
        EXPECT_EQ(get16(peer.requests.back(), 33), 0x4007);
        EXPECT_EQ(s.last_status, c.recorded);
    }
}

TEST_F(ShareList, TreeOrOpenFailuresSendNoClose)
{
    struct Case {
        const char *what;
        std::function<void(PipeServer &)> setup;
        int32_t rc;
        const char *text;
    } cases[] = {
        {"tree", [](PipeServer &s) { s.tree_status = STATUS_BAD_NETWORK_NAME; }, -4,
         "TREE_CONNECT IPC$: BAD_NETWORK_NAME"},
        {"open", [](PipeServer &s) { s.create_status = STATUS_OBJECT_NAME_NOT_FOUND; }, -4,
         "OPEN srvsvc: OBJECT_NAME_NOT_FOUND"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (TreeSlot &t : s.trees)
            t.in_use = 0;
        peer.requests.clear();
        PipeServer server;
        c.setup(server);
        serve(server);
        s.share_count = 3;
        EXPECT_EQ(vnb_srvsvc_share_enum(s), c.rc);
        EXPECT_STREQ(vnb_error(), c.text);
        EXPECT_EQ(s.share_count, 0);
        for (const Bytes &r : peer.requests)
            EXPECT_NE(sp::command_of(r), 0x04);
    }
}

// ---- against the fake server ----

class FakeShares : public sp::SessTest {
protected:
    void TearDown() override
    {
        SessTest::TearDown();
        vnb_fake_load(nullptr);
    }
    void connect(const std::string &tree)
    {
        ASSERT_EQ(vnb_fake_load(tree.c_str()), 0);
        identity("", "", "");
        std::snprintf(s.host, sizeof s.host, "fake");
        sess_reset(s);
        s.transport = sp::fake_transport();
        ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
    }
};

TEST_F(FakeShares, ListsTheDiskShares)
{
    connect(R"({"shares":[{"name":"media"},{"name":"Music \u00e9t\u00e9"}]})");
    ASSERT_EQ(vnb_srvsvc_share_enum(s), 0) << vnb_error();
    EXPECT_EQ(table(s), (std::vector<std::string>{"media", "Music \xC3\xA9t\xC3\xA9"}));
}

TEST_F(FakeShares, ThreeHundredSharesComeInFragmentsAndFailTheListing)
{
    std::string tree = R"({"shares":[)";
    for (int i = 0; i < 300; i++)
        tree += (i ? "," : "") + std::string(R"({"name":"share)") + std::to_string(i) + "\"}";
    tree += "]}";
    connect(tree);
    ASSERT_EQ(vnb_fake_fault("reset_counts", 0), 0);
    ASSERT_EQ(vnb_srvsvc_share_enum(s), -7);
    EXPECT_STREQ(vnb_error(), "the server lists more than 256 shares, the most the library holds");
    EXPECT_EQ(s.share_count, 0);
    EXPECT_GT(vnb_fake_count(0x2E), 0);  // the rest of the answer came by READ_ANDX
    EXPECT_EQ(vnb_fake_count(0x04), 1);
}

}  // namespace
