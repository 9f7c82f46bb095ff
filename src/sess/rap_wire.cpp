#include "sess/rap_wire.h"

#include <cstring>

#include "net/nb_name.h"
#include "util/le_reader.h"

namespace {

constexpr size_t kShareEntry = 20;   // B13, pad, W type, z remark
constexpr size_t kServerEntry = 26;  // B16, B major, B minor, D type, z comment
constexpr size_t kMaxText = 256;

void put_text(ByteBuffer *b, std::string_view text)
{
    vnb_buf_put(b, text.data(), text.size());
    vnb_buf_byte(b, 0);
}

struct Header {
    uint16_t status = 0;
    uint16_t converter = 0;
    uint16_t entries = 0;
};

int read_header(std::span<const uint8_t> params, Header *h)
{
    LeReader r(params);
    h->status = r.u16();
    h->converter = r.u16();
    h->entries = r.u16();
    return r.failed ? -1 : 0;
}

// A z string a pointer names: the low 16 bits less the converter give its
// offset in the data; it ends at a NUL inside the data.
std::string pointed_text(std::span<const uint8_t> data, uint32_t pointer, uint16_t converter)
{
    uint32_t low = pointer & 0xFFFF;
    if (pointer == 0 || low < converter)
        return {};
    size_t at = low - converter;
    if (at >= data.size())
        return {};
    std::span<const uint8_t> rest = data.subspan(at);
    const void *nul = std::memchr(rest.data(), 0, rest.size());
    if (nul == nullptr)
        return {};
    size_t len = static_cast<size_t>(static_cast<const uint8_t *>(nul) - rest.data());
    return nb_oem_text(rest.first(std::min(len, kMaxText)));
}

// The entries must lie inside the data: -1 otherwise.
int entries_inside(const Header &h, std::span<const uint8_t> data, size_t size)
{
    return size_t{h.entries} * size <= data.size() ? 0 : -1;
}

}  // namespace

void rap_build_share_enum(ByteBuffer *params)
{
    vnb_w16(params, kRapNetShareEnum);
    put_text(params, "WrLeh");   // level, receive buffer, length, entries read, total
    put_text(params, "B13BWz");  // level 1: name, pad, type, remark
    vnb_w16(params, 1);
    vnb_w16(params, kRapReceiveBuffer);
}

void rap_build_server_enum(ByteBuffer *params, uint32_t server_type, std::string_view domain)
{
    vnb_w16(params, kRapNetServerEnum2);
    put_text(params, "WrLehDz");   // and the server type and the domain
    put_text(params, "B16BBDz");   // level 1: name, version, type, comment
    vnb_w16(params, 1);
    vnb_w16(params, kRapReceiveBuffer);
    vnb_w32(params, server_type);
    put_text(params, domain);
}

int rap_parse_shares(std::span<const uint8_t> params, std::span<const uint8_t> data, uint16_t *status,
                     std::vector<RapShare> *out)
{
    Header h;
    if (read_header(params, &h) != 0)
        return -1;
    *status = h.status;
    if (h.status != 0 && h.status != kRapMoreData)
        return 0;
    if (entries_inside(h, data, kShareEntry) != 0)
        return -1;
    LeReader r(data);
    for (uint16_t i = 0; i < h.entries; i++) {
        RapShare share;
        share.name = nb_oem_text(std::span<const uint8_t>(r.take(13), 13));
        r.skip(1);
        share.type = r.u16();
        share.remark = pointed_text(data, r.u32(), h.converter);
        out->push_back(std::move(share));
    }
    return r.failed ? -1 : 0;
}

int rap_parse_servers(std::span<const uint8_t> params, std::span<const uint8_t> data, uint16_t *status,
                      std::vector<RapServer> *out)
{
    Header h;
    if (read_header(params, &h) != 0)
        return -1;
    *status = h.status;
    if (h.status != 0 && h.status != kRapMoreData)
        return 0;
    if (entries_inside(h, data, kServerEntry) != 0)
        return -1;
    LeReader r(data);
    for (uint16_t i = 0; i < h.entries; i++) {
        RapServer server;
        server.name = nb_oem_text(std::span<const uint8_t>(r.take(16), 16));
        server.major = r.u8();
        server.minor = r.u8();
        server.type = r.u32();
        server.comment = pointed_text(data, r.u32(), h.converter);
        out->push_back(std::move(server));
    }
    return r.failed ? -1 : 0;
}
