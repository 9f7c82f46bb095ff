// The name service reply reader: one datagram as it arrives on the client's
// port, read as a reply, its node status interpreted; and the same bytes as
// a request to the fake node.
#include <memory>

#include "fake/fake_netbios.h"
#include "fuzz_input.h"
#include "net/nbns_wire.h"
#include "net/node_status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so that a read past the datagram is reported.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(exact.get(), data, size);
    std::span<const uint8_t> packet(exact.get(), size);
    NbnsReply reply;
    int rc = nbns_parse_reply(packet, &reply);
    FUZZ_CHECK(rc == 0 || rc == -1);
    if (rc == 0) {
        FUZZ_CHECK(reply.response());
        FUZZ_CHECK(reply.addresses.size() * 6 <= size);
        FUZZ_CHECK(reply.names.size() <= 255 && reply.names.size() * 18 <= size);
        NodeInfo info = vnb_node_info(reply);
        FUZZ_CHECK(info.name.size() <= 15 && info.workgroup.size() <= 15);
        FUZZ_CHECK(info.mac_text().empty() || info.mac_text().size() == 17);
    }
    FakeNetbiosNode node;
    node.name = "FUZZBOX";
    node.workgroup = "FUZZGROUP";
    node.master = true;
    node.wins_server = true;
    node.wins_names.push_back({"OTHER", 0x7F000002});
    ByteBuffer answer{};
    if (vnb_fake_nbns_answer(node, packet, &answer)) {
        NbnsReply back;
        FUZZ_CHECK(nbns_parse_reply(std::span<const uint8_t>(answer.data, answer.len), &back) == 0);
    }
    vnb_buf_free(&answer);
    return 0;
}
