// TRANSACTION on \PIPE\LANMAN: the RAP calls NetShareEnum and NetServerEnum2
// at level 1, answered as a LAN Manager server does. Entries come first,
// their strings behind them, pointers offset by a converter.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fake/fake_internal.h"
#include "fake/fake_netbios.h"
#include "util/status.h"
#include "util/text.h"

namespace {

enum : uint16_t {
    kRapShareEnum = 0,
    kRapServerEnum2 = 104,
    kRapOk = 0,
    kRapMoreData = 234,
    kRapNotSupported = 50,
    kRapBadLevel = 124,
};

constexpr uint32_t kSvTypeDomainEnum = 0x80000000;
constexpr uint16_t kConverter = 0x0100;
constexpr size_t kShareEntry = 20;
constexpr size_t kServerEntry = 26;
constexpr size_t kMaxRapName = 12;  // what a 13-byte name field holds
constexpr uint16_t kShareDisk = 0;
constexpr uint16_t kShareIpc = 3;

// A z string of the request's parameters.
std::string z_text(LeReader &r)
{
    std::string text;
    for (;;) {
        uint8_t c = r.u8();
        if (r.failed || c == 0)
            return text;
        text += static_cast<char>(c);
    }
}

// An entry of the reply: its fixed part and the text its pointer names.
struct RapEntry {
    std::vector<uint8_t> fixed;  // the pointer in the last four bytes is filled in later
    std::string text;
};

// Reply parameters and data: as many whole entries (with their strings) as
// fit the client's buffer; 234 when some were left out.
void put_entries(FakeReply &rp, const std::vector<RapEntry> &entries, size_t entry_size, uint16_t buffer)
{
    size_t fitted = 0;
    size_t strings = 0;
    for (const RapEntry &e : entries) {
        size_t need = entry_size * (fitted + 1) + strings + e.text.size() + 1;
        if (need > buffer)
            break;
        strings += e.text.size() + 1;
        fitted++;
    }
    ByteBuffer data{};
    size_t text_at = entry_size * fitted;
    for (size_t i = 0; i < fitted; i++) {
        const RapEntry &e = entries[i];
        vnb_buf_put(&data, e.fixed.data(), e.fixed.size() - 4);
        vnb_w32(&data, static_cast<uint32_t>(text_at + kConverter));
        text_at += e.text.size() + 1;
    }
    for (size_t i = 0; i < fitted; i++)
        vnb_buf_put(&data, entries[i].text.c_str(), entries[i].text.size() + 1);
    ByteBuffer params{};
    vnb_w16(&params, fitted < entries.size() ? kRapMoreData : kRapOk);
    vnb_w16(&params, kConverter);
    vnb_w16(&params, static_cast<uint32_t>(fitted));
    vnb_w16(&params, static_cast<uint32_t>(entries.size()));
    fake_trans_reply(rp, params.data, static_cast<size_t>(params.len), data.data, static_cast<size_t>(data.len));
    vnb_buf_free(&params);
    vnb_buf_free(&data);
}

void put_status(FakeReply &rp, uint16_t status)
{
    uint8_t params[8] = {static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8), 0, 0, 0, 0, 0, 0};
    fake_trans_reply(rp, params, sizeof params, nullptr, 0);
}

RapEntry share_entry(const char *name, uint16_t type, std::string remark)
{
    RapEntry e;
    e.fixed.assign(kShareEntry, 0);
    std::memcpy(e.fixed.data(), name, std::strlen(name));
    e.fixed[14] = static_cast<uint8_t>(type);
    e.fixed[15] = static_cast<uint8_t>(type >> 8);
    e.text = std::move(remark);
    return e;
}

RapEntry server_entry(const std::string &name, uint32_t type, std::string comment)
{
    RapEntry e;
    e.fixed.assign(kServerEntry, 0);
    std::memcpy(e.fixed.data(), name.c_str(), std::min<size_t>(name.size(), 15));
    e.fixed[16] = 4;  // version 4.9
    e.fixed[17] = 9;
    for (int i = 0; i < 4; i++)
        e.fixed[18 + i] = static_cast<uint8_t>(type >> (8 * i));
    e.text = std::move(comment);
    return e;
}

bool ascii_only(const char *text)
{
    for (const char *p = text; *p; p++)
        if (static_cast<unsigned char>(*p) >= 0x80)
            return false;
    return true;
}

void share_enum(FakeReply &rp, uint16_t buffer)
{
    std::optional<FakeNetbiosNode> node = vnb_fake_netbios();
    std::vector<RapEntry> entries;
    entries.push_back(share_entry("IPC$", kShareIpc, "IPC Service (" + (node ? node->comment : std::string()) + ")"));
    // A share whose name does not fit the 13-byte field is left out, as
    // servers of this kind do.
    for (uint32_t i = 0; i < F.share_count; i++) {
        const char *name = F.shares[i].name;
        if (std::strlen(name) <= kMaxRapName && ascii_only(name))
            entries.push_back(share_entry(name, kShareDisk, "read-only share"));
    }
    put_entries(rp, entries, kShareEntry, buffer);
}

void server_enum(FakeReply &rp, uint16_t buffer, uint32_t type, const std::string &domain)
{
    std::vector<RapEntry> entries;
    std::optional<FakeNetbiosNode> node = vnb_fake_netbios();
    if (node && vnb_casecmp(domain.c_str(), node->workgroup.c_str()) == 0) {
        // SV_TYPE_ALL asks for every server; the domain bit alone for workgroups.
        if (type != 0xFFFFFFFFu && (type & kSvTypeDomainEnum) != 0) {
            entries.push_back(server_entry(node->workgroup, 0x80001000, node->master ? node->name : ""));
            for (const FakeBrowseEntry &w : node->workgroups)
                entries.push_back(server_entry(w.name, w.type, w.comment));
        } else {
            uint32_t own = kFakeServerType | (node->master ? kSvTypeMasterBrowser : 0);
            if ((own & type) != 0)
                entries.push_back(server_entry(node->name, own, node->comment));
            for (const FakeBrowseEntry &b : node->browse)
                if ((b.type & type) != 0)
                    entries.push_back(server_entry(b.name, b.type, b.comment));
        }
    }
    put_entries(rp, entries, kServerEntry, buffer);
}

}  // namespace

bool fake_is_lanman(const FakeRequest &rq, const FakeTrans &tr)
{
    char name[64];
    size_t off = rq.bytes_off;
    if (rq.unicode && off % 2 != 0)
        off++;
    size_t end = tr.params.empty() ? rq.bytes_off + rq.bytes_len : tr.param_off;
    if (fake_read_string(rq, off, end, rq.unicode, name, sizeof name, nullptr) < 0)
        return false;
    return vnb_casecmp(name, "\\PIPE\\LANMAN") == 0;
}

void fake_rap_answer(const FakeTrans &tr, FakeReply &rp)
{
    LeReader p(tr.params);
    uint16_t opcode = p.u16();
    std::string param_desc = z_text(p);
    std::string data_desc = z_text(p);
    uint16_t level = p.u16();
    uint16_t buffer = p.u16();
    fake_trace("[rap] opcode=%u %s %s level=%u buffer=%u\n", opcode, param_desc.c_str(), data_desc.c_str(), level,
               buffer);
    if (F.faults.no_rap || p.failed) {
        rp_error(rp, F.faults.no_rap ? STATUS_NOT_SUPPORTED : STATUS_INVALID_PARAMETER);
        return;
    }
    if (opcode == kRapShareEnum && param_desc == "WrLeh") {
        if (level != 1 || data_desc != "B13BWz")
            put_status(rp, kRapBadLevel);
        else
            share_enum(rp, buffer);
        return;
    }
    if (opcode == kRapServerEnum2 && param_desc == "WrLehDz") {
        uint32_t type = p.u32();
        std::string domain = z_text(p);
        if (p.failed || level != 1 || data_desc != "B16BBDz")
            put_status(rp, kRapBadLevel);
        else
            server_enum(rp, buffer, type, domain);
        return;
    }
    put_status(rp, kRapNotSupported);
}
