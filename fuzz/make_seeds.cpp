// Writes the seed corpus of the fuzz targets: fuzz_make_seeds <corpus folder>.
//
// The frames come from real sessions of the client with the fake server,
// recorded through VNSMB1C_DUMP (requests) and VNSMB1C_DUMPREP (replies);
// the SPNEGO and NTLM seeds are the security blobs of those frames. The text
// seeds (URLs, settings, trees) are listed here.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "fake/fake.h"
#include "fuzz_tree.h"
#include "vnsmb1c.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kNegotiate = 0x72;
constexpr uint8_t kSessionSetup = 0x73;
constexpr uint8_t kTreeConnect = 0x75;
constexpr uint8_t kNtCreate = 0xA2;
constexpr uint8_t kRead = 0x2E;
constexpr uint8_t kTransaction = 0x25;
constexpr uint8_t kTransaction2 = 0x32;
constexpr uint32_t kFlags2Unicode = 0x8000;
constexpr uint32_t kFlags2ExtSecurity = 0x0800;

fs::path g_out;
int g_written = 0;
std::vector<std::vector<uint8_t>> g_negotiate_replies;  // of every recorded session

void write_seed(const std::string &target, const std::string &name, const Bytes &bytes)
{
    static std::set<std::pair<std::string, Bytes>> seen;
    if (!seen.emplace(target, bytes).second)
        return;  // the same seed under another name
    fs::create_directories(g_out / target);
    std::ofstream f(g_out / target / name, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    g_written++;
}

void write_text(const std::string &target, const std::string &name, const std::string &text)
{
    write_seed(target, name, Bytes(text.begin(), text.end()));
}

Bytes slurp(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The SMB1 messages of a dump file of NBSS frames.
std::vector<Bytes> messages(const fs::path &p)
{
    Bytes all = slurp(p);
    std::vector<Bytes> out;
    for (size_t at = 0; at + 4 <= all.size();) {
        size_t n = (size_t{all[at + 1]} << 16) | (size_t{all[at + 2]} << 8) | all[at + 3];
        if (at + 4 + n > all.size())
            break;
        out.emplace_back(all.begin() + static_cast<ptrdiff_t>(at + 4),
                         all.begin() + static_cast<ptrdiff_t>(at + 4 + n));
        at += 4 + n;
    }
    return out;
}

uint32_t le16(const Bytes &m, size_t off)
{
    return off + 2 <= m.size() ? uint32_t{m[off]} | uint32_t{m[off + 1]} << 8 : 0;
}

// The security blob of a message: its length is the 16-bit word at
// `length_at`, its bytes start `skip` bytes into the message's byte area.
Bytes blob(const Bytes &m, size_t length_at, size_t skip)
{
    if (m.size() < 33)
        return {};
    size_t bytes_at = 33 + 2 * size_t{m[32]} + 2 + skip;
    size_t n = le16(m, length_at);
    if (n == 0 || bytes_at + n > m.size())
        return {};
    return Bytes(m.begin() + static_cast<ptrdiff_t>(bytes_at), m.begin() + static_cast<ptrdiff_t>(bytes_at + n));
}

// The NTLMSSP message inside a blob, to the blob's end.
Bytes ntlm_token(const Bytes &b)
{
    static const std::string kSig("NTLMSSP\0", 8);
    std::string s(b.begin(), b.end());
    size_t at = s.find(kSig);
    return at == std::string::npos ? Bytes{} : Bytes(b.begin() + static_cast<ptrdiff_t>(at), b.end());
}

uint32_t mid_of(const Bytes &m)
{
    return le16(m, 30);
}

Bytes with_prefix(std::initializer_list<uint8_t> prefix, const Bytes &m)
{
    Bytes out(prefix);
    out.insert(out.end(), m.begin(), m.end());
    return out;
}

// The request a reply answers: the last one before it with its MID.
const Bytes *request_for(const std::vector<Bytes> &reqs, const Bytes &reply)
{
    const Bytes *found = nullptr;
    for (const Bytes &q : reqs)
        if (q.size() >= 33 && mid_of(q) == mid_of(reply) && q[4] == reply[4])
            found = &q;
    return found;
}

// Seeds of the reply parsers' targets: each reply message by command, the
// READ replies with the count their request asked for, the FIND replies
// with their page alone, the transaction replies with all their parts, and
// the srvsvc pipe's answer.
void reply_seeds(const std::string &sc, const std::vector<Bytes> &reqs, const std::vector<Bytes> &reps)
{
    std::map<uint8_t, int> seen;
    size_t parts_end = 0;  // the secondary messages of the last transaction reply end here
    Bytes pipe_answer;
    bool in_pipe_answer = false;
    for (size_t i = 0; i < reps.size(); i++) {
        const Bytes &m = reps[i];
        if (m.size() < 33)
            continue;
        const uint8_t cmd = m[4];
        const bool unicode = (le16(m, 10) & kFlags2Unicode) != 0;
        const std::string n = sc + "_" + std::to_string(++seen[cmd]);
        const Bytes *q = request_for(reqs, m);
        switch (cmd) {
        case kNegotiate:
            write_seed("negotiate", n, m);
            g_negotiate_replies.push_back(m);
            break;
        case kSessionSetup: {
            // Header byte 22 picks the logon form in the target: bit 0 for
            // the non-extended one.
            Bytes c = m;
            c[22] = m[32] == 3 ? 1 : 0;
            write_seed("session_setup", n, c);
            c[22] |= 2;  // the session signs
            write_seed("session_setup", n + "_signing", c);
            break;
        }
        case kTreeConnect:
            write_seed("tree_connect", n, m);
            break;
        case kNtCreate:
            write_seed("nt_create", n, m);
            break;
        case kRead: {
            uint32_t asked = q != nullptr ? le16(*q, 43) | le16(*q, 47) << 16 : 4096;
            write_seed("read_andx", n,
                       with_prefix({static_cast<uint8_t>(asked), static_cast<uint8_t>(asked >> 8),
                                    static_cast<uint8_t>(asked >> 16)},
                                   m));
            if (in_pipe_answer) {
                size_t count = le16(m, 43);
                size_t off = le16(m, 45);
                if (off + count <= m.size())
                    pipe_answer.insert(pipe_answer.end(), m.begin() + static_cast<ptrdiff_t>(off),
                                       m.begin() + static_cast<ptrdiff_t>(off + count));
            }
            break;
        }
        case kTransaction2:
        case kTransaction: {
            // The parts: this message and the ones after it with its MID.
            Bytes parts = m;
            size_t j = i + 1;
            for (; j < reps.size() && reps[j].size() >= 33 && reps[j][4] == cmd && mid_of(reps[j]) == mid_of(m); j++)
                parts.insert(parts.end(), reps[j].begin(), reps[j].end());
            const bool pipe = cmd == kTransaction;
            if (i >= parts_end)
                write_seed("trans_join", n, with_prefix({static_cast<uint8_t>(pipe ? 1 : 0)}, parts));
            parts_end = std::max(parts_end, j);
            if (!pipe && q != nullptr && q->size() > 62) {
                const bool next = le16(*q, 61) == 2;
                const uint8_t how = static_cast<uint8_t>((next ? 1 : 0) | (unicode ? 0 : 2));
                write_seed("find_reply", n, with_prefix({how}, m));
                // The entries: SearchCount from the parameters, then the data.
                size_t poff = le16(m, 41);
                size_t dcnt = le16(m, 45);
                size_t doff = le16(m, 47);
                uint32_t count = le16(m, poff + (next ? 0 : 2));
                if (doff + dcnt <= m.size() && count < 0x4000) {
                    uint32_t word = count | (unicode ? 0 : 0x8000);
                    Bytes e = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
                    e.insert(e.end(), m.begin() + static_cast<ptrdiff_t>(doff),
                             m.begin() + static_cast<ptrdiff_t>(doff + dcnt));
                    write_seed("find_entries", n, e);
                }
            }
            if (pipe) {
                // The NetShareEnumAll answer (call id 2) and the reads after it.
                size_t dcnt = le16(m, 45);
                size_t doff = le16(m, 47);
                if (doff + 16 <= m.size() && doff + dcnt <= m.size() && m[doff + 12] == 2) {
                    pipe_answer.assign(m.begin() + static_cast<ptrdiff_t>(doff),
                                       m.begin() + static_cast<ptrdiff_t>(doff + dcnt));
                    in_pipe_answer = true;
                }
            }
            break;
        }
        default:
            if (in_pipe_answer) {
                write_seed("srvsvc", sc, pipe_answer);
                in_pipe_answer = false;
            }
            break;
        }
    }
}

void set_status(Bytes &m, uint32_t status)
{
    for (int i = 0; i < 4; i++)
        m[5 + static_cast<size_t>(i)] = static_cast<uint8_t>(status >> (8 * i));
}

// The client target's input: the byte that says how, then the replies.
Bytes client_input(uint8_t how, const std::vector<Bytes> &replies)
{
    Bytes all = {how};
    for (const Bytes &m : replies)
        all.insert(all.end(), m.begin(), m.end());
    return all;
}

// The whole client's seeds: the replies of the fake server to the calls the
// client target makes, in its order, with the first byte the target reads.
struct Fault {
    const char *name;
    int32_t value;
};

void record_client(const std::string &name, const char *user, const char *password, std::initializer_list<Fault> faults,
                   int read_ahead, uint8_t how, const fs::path &rep_dump)
{
    fs::remove(rep_dump);
    if (vnsmb1c_use_fake(kFuzzTree) != 0)
        std::exit(1);
    for (const Fault &f : faults)
        vnb_fake_fault(f.name, f.value);
    std::string settings = std::string(R"({"HostName":"fake","DomainName":"WG","UserName":")") + user +
                           R"(","Password":")" + password + R"(","ReadAhead":)" + std::to_string(read_ahead) + "}";
    if (vnsmb1c_connect_json(settings.c_str()) != 0) {
        std::fprintf(stderr, "%s: connect: %s\n", name.c_str(), vnsmb1c_last_error());
        std::exit(1);
    }
    vnsmb1c_shares();
    vnsmb1c_list("Media/Movies", nullptr);
    vnsmb1c_list("Media/Many", nullptr);
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    static uint8_t buf[1000];
    long long size = vnsmb1c_size(h);
    for (long long at : {0LL, 1000LL, 4000LL, size - 10, 99000LL})
        vnsmb1c_read_at(h, at, buf, sizeof buf);
    vnsmb1c_close(h);
    vnsmb1c_disconnect();
    vnsmb1c_use_sockets();
    const std::vector<Bytes> reps = messages(rep_dump);
    write_seed("client", name, client_input(how, reps));
    if (name != "alice")
        return;
    // The statuses that end a read or a search early, which the fake server
    // never sends for these calls: END_OF_FILE on every READ, and
    // NO_MORE_FILES on the FIND_NEXT2 (the third TRANSACTION2 reply).
    std::vector<Bytes> eof = reps;
    for (Bytes &m : eof)
        if (m.size() >= 33 && m[4] == kRead)
            set_status(m, 0xC0000011);
    write_seed("client", name + "_read_end_of_file", client_input(how, eof));
    std::vector<Bytes> done = reps;
    int trans2 = 0;
    for (Bytes &m : done)
        if (m.size() >= 33 && m[4] == kTransaction2 && ++trans2 == 3)
            set_status(m, 0x80000006);
    write_seed("client", name + "_no_more_files", client_input(how, done));
}

struct Scenario {
    const char *name;
    const char *user;
    const char *password;
    const char *fault;  // NULL: none
    int32_t value = 1;
    const char *fault2 = nullptr;  // a second one, set to 1
};

// One session of the client on the fake server, the frames recorded.
void record(const Scenario &sc, const fs::path &req_dump, const fs::path &rep_dump)
{
    fs::remove(req_dump);
    fs::remove(rep_dump);
    if (vnsmb1c_use_fake(kFuzzTree) != 0) {
        std::fprintf(stderr, "fake tree refused: %s\n", vnsmb1c_last_error());
        std::exit(1);
    }
    if (sc.fault != nullptr)
        vnb_fake_fault(sc.fault, sc.value);
    if (sc.fault2 != nullptr)
        vnb_fake_fault(sc.fault2, 1);
    if (vnsmb1c_connect("fake", 0, "", sc.user, sc.password) != 0) {
        std::fprintf(stderr, "%s: connect: %s\n", sc.name, vnsmb1c_last_error());
        std::exit(1);
    }
    vnsmb1c_shares();
    vnsmb1c_list("Media/Movies", nullptr);
    vnsmb1c_list("Media/Many", nullptr);
    vnsmb1c_list("Media/Movies/secret", nullptr);
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    uint8_t buf[4096];
    vnsmb1c_read_at(h, 0, buf, sizeof buf);
    vnsmb1c_read_at(h, 99000, buf, sizeof buf);
    vnsmb1c_close(h);
    vnsmb1c_open("Media/Movies", "missing.mkv");
    vnsmb1c_disconnect();
    vnsmb1c_use_sockets();

    std::vector<Bytes> reqs = messages(req_dump);
    std::vector<Bytes> reps = messages(rep_dump);
    Bytes session;
    for (const Bytes &m : reqs)
        session.insert(session.end(), m.begin(), m.end());
    write_seed("fake_server", std::string("session_") + sc.name, session);
    if (!reqs.empty())
        write_seed("fake_server", std::string("negotiate_") + sc.name, reqs.front());

    int legs = 0;
    for (const Bytes &m : reqs) {
        if (m.size() < 33 || m[4] != kSessionSetup || m[32] != 12)
            continue;
        Bytes b = blob(m, 33 + 14, 0);
        legs++;
        write_seed("spnego", std::string("client_leg") + std::to_string(legs) + "_" + sc.name, b);
        Bytes t = ntlm_token(b);
        if (t.size() > 8 && t[8] == 3)
            write_seed("ntlm_authenticate", sc.name, t);
    }
    int replies = 0;
    for (const Bytes &m : reps) {
        if (m.size() < 33)
            continue;
        if (m[4] == kNegotiate && m[32] == 17 && (le16(m, 10) & kFlags2ExtSecurity) != 0) {
            // The byte area: the server GUID, then the blob.
            size_t bc = le16(m, 67);
            if (bc > 16 && 69 + bc <= m.size())
                write_seed("spnego", std::string("server_init_") + sc.name,
                           Bytes(m.begin() + 69 + 16, m.begin() + static_cast<ptrdiff_t>(69 + bc)));
        }
        if (m[4] == kSessionSetup && m[32] == 4) {
            Bytes b = blob(m, 33 + 6, 0);
            if (b.empty())
                continue;
            replies++;
            write_seed("spnego", std::string("server_leg") + std::to_string(replies) + "_" + sc.name, b);
            Bytes t = ntlm_token(b);
            if (t.size() > 8 && t[8] == 2)
                write_seed("ntlm_challenge", sc.name, t);
        }
    }    reply_seeds(sc.name, reqs, reps);
}

void put16(Bytes &b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(Bytes &b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A DCE/RPC response fragment for the NetShareEnumAll call.
Bytes rpc_fragment(uint8_t flags, const Bytes &stub)
{
    Bytes f = {5, 0, 2, flags, 0x10, 0, 0, 0};
    put16(f, static_cast<uint32_t>(24 + stub.size()));
    put16(f, 0);                                  // auth_length
    put32(f, 2);                                  // call id
    put32(f, static_cast<uint32_t>(stub.size()));  // alloc_hint
    put16(f, 0);                                  // context id
    put16(f, 0);                                  // cancel count, reserved
    f.insert(f.end(), stub.begin(), stub.end());
    return f;
}

// An NDR conformant varying string: the counts, the UTF-16 units and their
// NUL, padded to 4 bytes.
void put_ndr_string(Bytes &b, const std::string &text)
{
    uint32_t units = static_cast<uint32_t>(text.size() + 1);
    put32(b, units);
    put32(b, 0);
    put32(b, units);
    for (char c : text)
        put16(b, static_cast<uint8_t>(c));
    put16(b, 0);
    if (units % 2)
        put16(b, 0);
}

// The level-1 NetShareEnumAll stub for the given names.
Bytes share_enum_stub(const std::vector<std::string> &names)
{
    Bytes b;
    put32(b, 1);           // level
    put32(b, 1);           // union switch
    put32(b, 0x00020000);  // container referent
    put32(b, static_cast<uint32_t>(names.size()));
    put32(b, 0x00020004);  // array referent
    put32(b, static_cast<uint32_t>(names.size()));
    for (size_t i = 0; i < names.size(); i++) {
        put32(b, 0x00020008 + 8 * static_cast<uint32_t>(i));
        put32(b, 0);  // type: disk
        put32(b, 0x0002000C + 8 * static_cast<uint32_t>(i));
    }
    for (const std::string &n : names) {
        put_ndr_string(b, n);
        put_ndr_string(b, "remark");
    }
    put32(b, static_cast<uint32_t>(names.size()));  // TotalEntries
    put32(b, 0);                                    // ResumeHandle: NULL
    put32(b, 0);                                    // WERROR
    return b;
}

// Seeds made here for the limits recorded sessions do not reach: a share
// list over the table's 256 slots with the administrative names, a name too
// long for the table, a list in several fragments, and a NEGOTIATE blob over
// the session's 8 KiB.
void crafted_seeds(const std::vector<Bytes> &negotiate_replies)
{
    std::vector<std::string> many = {"IPC$", "ADMIN$", "C$", "print$", "x$"};
    for (int i = 0; i < 300; i++)
        many.push_back("s" + std::to_string(i));
    write_seed("srvsvc", "shares_300", rpc_fragment(3, share_enum_stub(many)));
    // A name over the table's 80 bytes fails the listing.
    write_seed("srvsvc", "name_too_long", rpc_fragment(3, share_enum_stub({"Media", std::string(100, 'n')})));

    Bytes stub = share_enum_stub({"Media", "Music", "IPC$"});
    size_t cut = stub.size() / 3;
    Bytes three = rpc_fragment(1, Bytes(stub.begin(), stub.begin() + static_cast<ptrdiff_t>(cut)));
    Bytes middle = rpc_fragment(0, Bytes(stub.begin() + static_cast<ptrdiff_t>(cut),
                                         stub.begin() + static_cast<ptrdiff_t>(2 * cut)));
    Bytes last = rpc_fragment(2, Bytes(stub.begin() + static_cast<ptrdiff_t>(2 * cut), stub.end()));
    three.insert(three.end(), middle.begin(), middle.end());
    three.insert(three.end(), last.begin(), last.end());
    write_seed("srvsvc", "three_fragments", three);

    for (const Bytes &m : negotiate_replies) {
        if (m.size() < 69 || m[32] != 17 || (m[55] & 0x80) == 0)
            continue;  // not an extended-security reply
        Bytes big(m.begin(), m.begin() + 69 + 16);  // through the GUID
        big.resize(69 + 16 + 8200, 0x60);
        big[67] = static_cast<uint8_t>((16 + 8200) & 0xFF);
        big[68] = static_cast<uint8_t>((16 + 8200) >> 8);
        write_seed("negotiate", "blob_over_8k", big);
        break;
    }
}

// The logons of old servers (legacy_logon target): the fake server's replies
// to NEGOTIATE, SESSION_SETUP and one TREE_CONNECT under its old-server
// switches, with the setting they need in the first byte.
void record_legacy(const std::string &name, std::initializer_list<Fault> faults, const char *legacy, uint8_t how,
                   const fs::path &rep_dump)
{
    fs::remove(rep_dump);
    if (vnsmb1c_use_fake(kFuzzTree) != 0)
        std::exit(1);
    for (const Fault &f : faults)
        vnb_fake_fault(f.name, f.value);
    vnsmb1c_set_legacy_auth(legacy);
    const bool anonymous = (how & 4) != 0;
    if (vnsmb1c_connect("fake", 0, nullptr, anonymous ? "" : "alice", anonymous ? "" : "pw") != 0) {
        std::fprintf(stderr, "%s: connect: %s\n", name.c_str(), vnsmb1c_last_error());
        std::exit(1);
    }
    vnsmb1c_list("Media", nullptr);
    vnsmb1c_disconnect();
    vnsmb1c_set_legacy_auth("none");
    vnsmb1c_use_sockets();
    std::vector<Bytes> reps = messages(rep_dump);
    // NEGOTIATE, the SESSION_SETUP legs and the TREE_CONNECT.
    while (!reps.empty() && reps.back().size() >= 33 && reps.back()[4] != 0x75)
        reps.pop_back();
    write_seed("legacy_logon", name, client_input(how, reps));
}

// The status readings (dos_status) and both sides of the NetBIOS session
// request (nbss_session).
void old_server_seeds()
{
    auto le32 = [](std::initializer_list<uint32_t> statuses) {
        Bytes b;
        for (uint32_t s : statuses)
            put32(b, s);
        return b;
    };
    write_seed("dos_status", "dos_forms", le32({0x00020001, 0x00030001, 0x00050001, 0x00120001, 0x00EA0001,
                                                0x00020002, 0x00060002, 0x005B0002, 0xFFFF0002, 0x001E0003}));
    write_seed("dos_status", "nt_statuses", le32({0xC0000022, 0xC0000034, 0x80000006, 0xC0000016, 0xC000006D}));

    Bytes request = {0x81, 0, 0, 68, 32};
    const std::string called = "CKFDENECFDEFFCFGEFFCCACACACACACA";
    const std::string calling = "FGEBEOFEFCEFEMFGEJEFFHEFFCCACAAA";
    request.insert(request.end(), called.begin(), called.end());
    request.push_back(0);
    request.push_back(32);
    request.insert(request.end(), calling.begin(), calling.end());
    request.push_back(0);
    // Server side: the byte 1, then the packet type and its payload.
    Bytes server = {1, 0x81};
    server.insert(server.end(), request.begin() + 4, request.end());
    write_seed("nbss_session", "server_request", server);
    write_seed("nbss_session", "server_keep_alive", Bytes{1, 0x85});
    // Client side: the byte 0, the slice size, then what the server sends.
    write_seed("nbss_session", "client_positive", Bytes{0, 3, 0x82, 0, 0, 0});
    write_seed("nbss_session", "client_keep_alive_first", Bytes{0, 0, 0x85, 0, 0, 0, 0x82, 0, 0, 0});
    write_seed("nbss_session", "client_negative", Bytes{0, 7, 0x83, 0, 0, 1, 0x82});
    write_seed("nbss_session", "client_retarget", Bytes{0, 1, 0x84, 0, 0, 6, 192, 0, 2, 7, 0x01, 0xBD});
}

void text_seeds()
{
    const std::pair<const char *, std::string> urls[] = {
        {"full", std::string("\x00", 1) + "smb://dom;alice:pw@fs:1139/Media/Movies/a.mkv"},
        {"ipv6", std::string("\x00", 1) + "smb://[::1]:445/Media"},
        {"ipv6_bare", std::string("\x00", 1) + "[fe80::1]/share"},
        {"unc", std::string("\x00", 1) + "\\\\srv\\share\\dir\\file"},
        {"host_only_null_outputs", "\x40" "fs"},
        {"small_outputs", "\x83" "//alice@host.example:139/a/b/c"},
        {"pattern", std::string("\x00", 1) + "*.mkv"},
        {"dots", std::string("\x00", 1) + "srv/a/./b/../c"},
    };
    for (const auto &[name, text] : urls)
        write_text("url", name, text);

    const std::pair<const char *, const char *> settings[] = {
        {"identity", R"({"HostName":"nas","DomainName":"WG","UserName":"alice","Password":"pw","Path":"Media"})"},
        {"ports", R"({"HostName":"h","ServerPort":"139","Port":1445,"LocalPort":"8137"})"},
        {"full_url", R"({"FullUrl":"smb://dom;u:p@fs:1139/share/dir","HostName":"other"})"},
        {"kinds", R"({"HostName":true,"UserName":-5,"Password":18446744073709551615,"DomainName":null,"Path":[]})"},
        {"escapes", R"({"HostName":"h","UserName":"a\"b\\c\u00e9\ud83d\ude00"})"},
    };
    for (const auto &[name, text] : settings)
        write_text("settings", name, text);

    write_text("fake_tree", "small", kFuzzTree);
    write_text("fake_tree", "users_and_guest",
               R"({"shares":[{"name":"a"}],"users":[{"name":"bob"},{"name":"amy","pass":"x"},7],"guest":false})");
    write_text("fake_tree", "nested",
               R"({"shares":[{"name":"s","root":[{"name":"d","children":[{"name":"e","children":)"
               R"([{"name":"f.bin","size":1,"mtime":-5}]}]},{"name":"g","generate":3,"prefix":"p"}]}]})");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_out = argv[1];
    fs::path work = fs::temp_directory_path() / ("vnsmb1c-seeds-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const fs::path req_dump = work / "requests";
    const fs::path rep_dump = work / "replies";
    setenv("VNSMB1C_DUMP", req_dump.c_str(), 1);
    setenv("VNSMB1C_DUMPREP", rep_dump.c_str(), 1);

    const Scenario scenarios[] = {
        {"guest", "", "", nullptr},
        {"alice", "alice", "pw", nullptr},
        {"alice_signed", "alice", "pw", "sign_required"},
        {"alice_basic", "alice", "pw", "no_extsec"},
        {"alice_oem", "alice", "pw", "no_unicode"},
        {"alice_basic_oem", "alice", "pw", "no_unicode", 1, "no_extsec"},
        // FIND replies in messages of at most 700 data bytes.
        {"alice_split", "alice", "pw", "find_split", 700},
    };
    for (const Scenario &sc : scenarios)
        record(sc, req_dump, rep_dump);
    // How: bits 0-1 signing (0 never, 1 always, 2 as the reply says), bit 2
    // pipelining, bit 4 anonymous, bits 5-6 read-ahead (none, 4, 16, 64 KiB),
    // bit 7 one message per reply.
    record_client("alice", "alice", "pw", {}, 0, 0x00, rep_dump);
    record_client("alice_pipelined_ahead", "alice", "pw", {}, 4096, 0x24, rep_dump);
    record_client("alice_signed", "alice", "pw", {{"sign_required", 1}}, 0, 0x02, rep_dump);
    record_client("alice_signed_ahead", "alice", "pw", {{"sign_required", 1}, {"find_split", 700}}, 16384, 0x46,
                  rep_dump);
    record_client("alice_basic_signed", "alice", "pw", {{"no_extsec", 1}, {"sign_required", 1}}, 0, 0x01, rep_dump);
    record_client("guest", "", "", {}, 0, 0x10, rep_dump);
    record_client("alice_one_message", "alice", "pw", {}, 0, 0x80, rep_dump);
    record_client("alice_dos_errors", "alice", "pw", {{"dos_errors", 1}}, 0, 0x00, rep_dump);
    // How: bits 0-1 LegacyAuth (none, ntlmv1, lm, plaintext), bit 2
    // anonymous, bits 4-5 code page.
    record_legacy("ntlmv1_extended", {{"ntlm_v1", 2}}, "ntlmv1", 0x01, rep_dump);
    record_legacy("ntlmv1_ess", {{"ntlm_v1", 2}, {"ntlm_ess", 1}}, "ntlmv1", 0x01, rep_dump);
    record_legacy("ntlmv1_basic", {{"ntlm_v1", 2}, {"no_extsec", 1}}, "ntlmv1", 0x01, rep_dump);
    record_legacy("lm_basic", {{"ntlm_v1", 3}, {"no_extsec", 1}}, "lm", 0x02, rep_dump);
    record_legacy("plaintext", {{"plaintext", 1}}, "plaintext", 0x03, rep_dump);
    record_legacy("share_level", {{"share_level", 1}}, "lm", 0x02, rep_dump);
    record_legacy("share_level_plaintext", {{"share_level", 1}, {"plaintext", 1}}, "plaintext", 0x03, rep_dump);
    record_legacy("oem_dos_errors", {{"no_unicode", 1}, {"dos_errors", 1}}, "none", 0x00, rep_dump);
    old_server_seeds();
    text_seeds();
    crafted_seeds(g_negotiate_replies);
    fs::remove_all(work);
    std::printf("%d seeds written under %s\n", g_written, g_out.c_str());
    return 0;
}
