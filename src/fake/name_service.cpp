// The fake node's side of the NetBIOS name service: name queries, node
// status and WINS look-ups, answered as Samba's nmbd does.
#include <deque>
#include <new>

#include "fake/fake_netbios.h"
#include "net/nb_name.h"
#include "net/nbns_wire.h"
#include "util/le_reader.h"

namespace {

constexpr uint16_t kFlagsOpcodeMask = 0x7800;
constexpr uint16_t kRecursionAvailable = 0x0080;
constexpr uint8_t kNameError = 3;
constexpr uint32_t kTtl = 300000;
constexpr uint16_t kNameActive = 0x0400;
constexpr size_t kStatistics = 46;  // unit id (the MAC) and counters

struct Question {
    uint16_t trn_id = 0;
    uint16_t flags = 0;
    NbName name;
    uint16_t type = 0;
};

bool read_question(std::span<const uint8_t> request, Question *q)
{
    LeReader r(request);
    q->trn_id = r.u16be();
    q->flags = r.u16be();
    uint16_t questions = r.u16be();
    r.skip(6);
    uint8_t len = r.u8();
    const uint8_t *encoded = r.take(32);
    uint8_t end = r.u8();
    q->type = r.u16be();
    uint16_t qclass = r.u16be();
    if (r.failed || (q->flags & (kNbnsFlagResponse | kFlagsOpcodeMask)) != 0 || questions != 1 || len != 32 ||
        end != 0 || qclass != 1)
        return false;
    return nb_decode_first_level(std::span<const uint8_t, 32>(encoded, 32), &q->name);
}

NbName name_of(const std::string &text, uint8_t suffix)
{
    NbName n;
    nb_name_make(text, suffix, &n);
    return n;
}

struct OwnName {
    NbName name;
    bool group;
};

// The names the node holds, as nmbd registers them.
std::vector<OwnName> own_names(const FakeNetbiosNode &node)
{
    std::vector<OwnName> names = {
        {name_of(node.name, kNbWorkstation), false},
        {name_of(node.name, 0x03), false},
        {name_of(node.name, kNbFileServer), false},
        {name_of(node.workgroup, kNbWorkstation), true},
        {name_of(node.workgroup, 0x1E), true},
    };
    if (node.master) {
        names.push_back({nb_name_msbrowse(), true});
        names.push_back({name_of(node.workgroup, kNbLocalMaster), false});
    }
    return names;
}

void header(ByteBuffer *out, uint16_t trn_id, uint16_t flags)
{
    vnb_w16be(out, trn_id);
    vnb_w16be(out, flags);
    vnb_w16be(out, 0);  // QDCOUNT
    vnb_w16be(out, 1);  // ANCOUNT
    vnb_w16be(out, 0);
    vnb_w16be(out, 0);
}

void record_head(ByteBuffer *out, const NbName &name, uint16_t type, uint32_t ttl, size_t rdlength)
{
    auto encoded = nb_encode_first_level(name);
    vnb_buf_byte(out, 32);
    vnb_buf_put(out, encoded.data(), encoded.size());
    vnb_buf_byte(out, 0);
    vnb_w16be(out, type);
    vnb_w16be(out, 1);
    vnb_w16be(out, ttl >> 16);
    vnb_w16be(out, ttl & 0xFFFF);
    vnb_w16be(out, static_cast<uint32_t>(rdlength));
}

void positive(ByteBuffer *out, const Question &q, bool group, uint32_t address, bool as_server)
{
    header(out, q.trn_id,
           kNbnsFlagResponse | kNbnsFlagAuthoritative | kNbnsFlagRecursionDesired |
               (as_server ? kRecursionAvailable : 0));
    record_head(out, q.name, kNbnsTypeNb, kTtl, 6);
    vnb_w16be(out, group ? kNbGroupName : 0);
    vnb_w16be(out, address >> 16);
    vnb_w16be(out, address & 0xFFFF);
}

void negative(ByteBuffer *out, const Question &q)
{
    header(out, q.trn_id,
           kNbnsFlagResponse | kNbnsFlagAuthoritative | kNbnsFlagRecursionDesired | kRecursionAvailable |
               kNameError);
    record_head(out, q.name, kNbnsTypeNb, 0, 0);
}

void node_status(ByteBuffer *out, const FakeNetbiosNode &node, const Question &q)
{
    std::vector<OwnName> names = own_names(node);
    header(out, q.trn_id, kNbnsFlagResponse | kNbnsFlagAuthoritative);
    record_head(out, nb_name_wildcard(), kNbnsTypeNbstat, 0, 1 + 18 * names.size() + kStatistics);
    vnb_buf_byte(out, static_cast<int>(names.size()));
    for (const OwnName &n : names) {
        vnb_buf_put(out, n.name.bytes.data(), n.name.bytes.size());
        vnb_w16be(out, kNameActive | (n.group ? kNbGroupName : 0));
    }
    vnb_buf_put(out, node.mac.data(), node.mac.size());
    for (size_t i = node.mac.size(); i < kStatistics; i++)
        vnb_buf_byte(out, 0);
}

class FakeDatagramPort final : public DatagramPort {
public:
    explicit FakeDatagramPort(std::optional<FakeNetbiosNode> node) : node_(std::move(node)) {}

    int32_t send(uint32_t ip, uint16_t port, std::span<const uint8_t> bytes, bool broadcast) override
    {
        if (!node_ || port != kNbnsPort || (ip != node_->address && !broadcast))
            return 0;
        ByteBuffer reply{};
        if (vnb_fake_nbns_answer(*node_, bytes, &reply) && !reply.failed)
            pending_.push_back(
                Datagram{node_->address, kNbnsPort, std::vector<uint8_t>(reply.data, reply.data + reply.len)});
        vnb_buf_free(&reply);
        return 0;
    }

    int32_t recv(Datagram &out, int) override
    {
        if (pending_.empty())
            return -2;
        out = std::move(pending_.front());
        pending_.pop_front();
        return 1;
    }

private:
    std::optional<FakeNetbiosNode> node_;
    std::deque<Datagram> pending_;
};

}  // namespace

bool vnb_fake_nbns_answer(const FakeNetbiosNode &node, std::span<const uint8_t> request, ByteBuffer *out)
{
    Question q;
    if (!read_question(request, &q))
        return false;
    if (q.type == kNbnsTypeNbstat) {
        node_status(out, node, q);
        return true;
    }
    if (q.type != kNbnsTypeNb)
        return false;
    bool broadcast = (q.flags & kNbnsFlagBroadcast) != 0;
    bool wildcard = q.name == nb_name_wildcard();
    for (const OwnName &n : own_names(node)) {
        if (wildcard || n.name == q.name) {
            positive(out, q, !wildcard && n.group, node.address, false);
            return true;
        }
    }
    if (broadcast || !node.wins_server)
        return false;
    for (const FakeNbHost &h : node.wins_names) {
        if (name_of(h.name, q.name.suffix()) == q.name) {
            positive(out, q, false, h.address, true);
            return true;
        }
    }
    negative(out, q);
    return true;
}

std::unique_ptr<DatagramPort> vnb_fake_datagram_port(std::optional<FakeNetbiosNode> node)
{
    return std::unique_ptr<DatagramPort>(new (std::nothrow) FakeDatagramPort(std::move(node)));
}
