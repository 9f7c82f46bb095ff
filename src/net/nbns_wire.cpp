#include "net/nbns_wire.h"

#include "util/le_reader.h"

namespace {

constexpr uint16_t kClassIn = 0x0001;
constexpr uint8_t kEncodedNameLen = 32;
constexpr uint8_t kPointerBits = 0xC0;
constexpr int kMaxPointerHops = 4;
constexpr uint16_t kMaxQuestions = 4;
constexpr size_t kAddressEntry = 6;  // NB_FLAGS and an IPv4 address
constexpr size_t kStatusEntry = 18;  // 16 name bytes and the name flags
constexpr size_t kMacLen = 6;

// A record or question name: a first-level encoded NetBIOS name without
// scope, maybe reached through pointers. Pointers may only point back, so
// they cannot loop. The reader ends after the name as it stood in place.
bool read_name(LeReader &r, NbName *out)
{
    size_t pos = r.pos;
    size_t after = 0;  // where the reader goes on once a pointer was followed
    for (int hops = 0;; hops++) {
        uint8_t len = r.u8_at(pos);
        if (r.failed)
            return false;
        if ((len & kPointerBits) == kPointerBits) {
            size_t target = (size_t{len & 0x3Fu} << 8) | r.u8_at(pos + 1);
            if (r.failed || target >= pos || hops >= kMaxPointerHops)
                return false;
            if (after == 0)
                after = pos + 2;
            pos = target;
            continue;
        }
        if (len != kEncodedNameLen)
            return false;
        const uint8_t *encoded = r.at(pos + 1, kEncodedNameLen);
        if (encoded == nullptr || r.u8_at(pos + 1 + kEncodedNameLen) != 0 || r.failed)
            return false;
        if (!nb_decode_first_level(std::span<const uint8_t, 32>(encoded, kEncodedNameLen), out))
            return false;
        r.seek(after != 0 ? after : pos + 2 + kEncodedNameLen);
        return !r.failed;
    }
}

void read_addresses(LeReader &rd, NbnsReply *out)
{
    while (rd.left() >= kAddressEntry) {
        NbAddress a;
        a.flags = rd.u16be();
        a.ipv4 = rd.u32be();
        out->addresses.push_back(a);
    }
}

bool read_status(LeReader &rd, NbnsReply *out)
{
    uint8_t count = rd.u8();
    if (rd.failed || rd.left() < kStatusEntry * count)
        return false;
    for (uint8_t i = 0; i < count; i++) {
        NbStatusName n;
        const uint8_t *name = rd.take(16);
        std::copy(name, name + 16, n.name.bytes.begin());
        n.flags = rd.u16be();
        out->names.push_back(n);
    }
    // The statistics start with the unit id, the node's MAC address.
    if (const uint8_t *mac = rd.left() >= kMacLen ? rd.take(kMacLen) : nullptr) {
        std::copy(mac, mac + kMacLen, out->mac.begin());
        out->has_mac = true;
    }
    return !rd.failed;
}

}  // namespace

void nbns_build_request(ByteBuffer *b, uint16_t trn_id, NbnsAsk ask, const NbName &name)
{
    uint16_t flags = 0;  // opcode 0: query
    if (ask == NbnsAsk::broadcast)
        flags = kNbnsFlagRecursionDesired | kNbnsFlagBroadcast;
    else if (ask == NbnsAsk::name_server)
        flags = kNbnsFlagRecursionDesired;
    vnb_w16be(b, trn_id);
    vnb_w16be(b, flags);
    vnb_w16be(b, 1);  // QDCOUNT
    vnb_w16be(b, 0);  // ANCOUNT
    vnb_w16be(b, 0);  // NSCOUNT
    vnb_w16be(b, 0);  // ARCOUNT
    const NbName &asked = ask == NbnsAsk::node_status ? nb_name_wildcard() : name;
    std::array<uint8_t, 32> encoded = nb_encode_first_level(asked);
    vnb_buf_byte(b, kEncodedNameLen);
    vnb_buf_put(b, encoded.data(), encoded.size());
    vnb_buf_byte(b, 0);  // no scope
    vnb_w16be(b, ask == NbnsAsk::node_status ? kNbnsTypeNbstat : kNbnsTypeNb);
    vnb_w16be(b, kClassIn);
}

int nbns_parse_reply(std::span<const uint8_t> packet, NbnsReply *out)
{
    *out = NbnsReply{};
    LeReader r(packet);
    out->trn_id = r.u16be();
    out->flags = r.u16be();
    uint16_t questions = r.u16be();
    uint16_t answers = r.u16be();
    r.skip(4);  // NSCOUNT, ARCOUNT
    if (r.failed || !out->response() || questions > kMaxQuestions)
        return -1;
    out->opcode = static_cast<uint8_t>((out->flags >> 11) & 0x0F);
    out->rcode = static_cast<uint8_t>(out->flags & 0x0F);
    for (uint16_t q = 0; q < questions; q++) {
        NbName ignored;
        if (!read_name(r, &ignored))
            return -1;
        r.skip(4);  // QTYPE, QCLASS
    }
    if (r.failed)
        return -1;
    if (answers == 0)
        return 0;

    if (!read_name(r, &out->rr_name))
        return -1;
    out->rr_type = r.u16be();
    uint16_t rr_class = r.u16be();
    r.skip(4);  // TTL
    uint16_t rdlength = r.u16be();
    const uint8_t *rdata = r.take(rdlength);
    if (r.failed || rr_class != kClassIn)
        return -1;
    out->has_answer = true;
    LeReader rd(rdata, rdlength);
    if (out->rr_type == kNbnsTypeNb) {
        if (rdlength % kAddressEntry != 0)
            return -1;
        read_addresses(rd, out);
    } else if (out->rr_type == kNbnsTypeNbstat) {
        if (!read_status(rd, out))
            return -1;
    }
    return 0;
}
