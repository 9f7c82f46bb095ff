// The "netbios" object of the fake tree, and the node it describes.
#include <rapidjson/document.h>

#include <cstring>

#include "fake/fake_internal.h"
#include "fake/fake_netbios.h"
#include "net/nb_name.h"
#include "net/netif.h"
#include "util/text.h"

namespace {

using rapidjson::Value;

constexpr size_t kMaxComment = 256;
constexpr size_t kMaxEntries = 1024;

std::optional<FakeNetbiosNode> g_node;

const Value *member(const Value &obj, const char *key)
{
    auto it = obj.FindMember(key);
    return it == obj.MemberEnd() ? nullptr : &it->value;
}

// A NetBIOS name: the text upper-cased, or false.
bool read_name(const Value *v, std::string *out)
{
    NbName nb;
    if (v == nullptr || !v->IsString() || !nb_name_make(std::string_view(v->GetString(), v->GetStringLength()), 0, &nb))
        return false;
    *out = nb_name_text(nb);
    return true;
}

bool read_comment(const Value *v, std::string *out)
{
    if (v == nullptr)
        return true;
    if (!v->IsString() || v->GetStringLength() > kMaxComment || std::strlen(v->GetString()) != v->GetStringLength())
        return false;
    *out = v->GetString();
    return true;
}

bool read_address(const Value *v, uint32_t *out)
{
    return v == nullptr || (v->IsString() && vnb_ipv4_parse(v->GetString(), out));
}

bool read_flag(const Value *v, bool *out)
{
    if (v == nullptr)
        return true;
    if (!v->IsBool())
        return false;
    *out = v->GetBool();
    return true;
}

bool read_mac(const Value *v, std::array<uint8_t, 6> *out)
{
    if (v == nullptr)
        return true;
    if (!v->IsString() || v->GetStringLength() != 17)
        return false;
    const char *t = v->GetString();
    for (size_t i = 0; i < 6; i++) {
        int hi = vnb_hex_digit(t[3 * i]);
        int lo = vnb_hex_digit(t[3 * i + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && t[3 * i + 2] != ':'))
            return false;
        (*out)[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

// An array of objects, each read by one; absent is an empty list.
template <class T, class Read>
bool read_list(const Value *v, std::vector<T> *out, Read one)
{
    if (v == nullptr)
        return true;
    if (!v->IsArray() || v->Size() > kMaxEntries)
        return false;
    for (const Value &e : v->GetArray()) {
        T item;
        if (!e.IsObject() || !one(e, &item))
            return false;
        out->push_back(std::move(item));
    }
    return true;
}

bool read_browse_entry(const Value &e, FakeBrowseEntry *out)
{
    out->type = kFakeServerType;
    if (const Value *t = member(e, "type")) {
        if (!t->IsUint())
            return false;
        out->type = t->GetUint();
    }
    return read_name(member(e, "name"), &out->name) && read_comment(member(e, "comment"), &out->comment);
}

bool read_workgroup_entry(const Value &e, FakeBrowseEntry *out)
{
    out->type = 0x80001000;  // SV_TYPE_DOMAIN_ENUM | SV_TYPE_NT
    const Value *master = member(e, "master");
    return read_name(member(e, "name"), &out->name) && (master == nullptr || read_name(master, &out->comment));
}

bool read_wins_name(const Value &e, FakeNbHost *out)
{
    return read_name(member(e, "name"), &out->name) && member(e, "address") != nullptr &&
           read_address(member(e, "address"), &out->address);
}

bool read_node(const Value &v, FakeNetbiosNode *node)
{
    if (!v.IsObject() || !read_name(member(v, "name"), &node->name))
        return false;
    node->workgroup = "WORKGROUP";
    if (const Value *wg = member(v, "workgroup"); wg != nullptr && !read_name(wg, &node->workgroup))
        return false;
    return read_comment(member(v, "comment"), &node->comment) && read_address(member(v, "address"), &node->address) &&
           read_mac(member(v, "mac"), &node->mac) && read_flag(member(v, "master"), &node->master) &&
           read_flag(member(v, "wins_server"), &node->wins_server) &&
           read_list(member(v, "browse"), &node->browse, read_browse_entry) &&
           read_list(member(v, "workgroups"), &node->workgroups, read_workgroup_entry) &&
           read_list(member(v, "wins"), &node->wins_names, read_wins_name);
}

}  // namespace

int fake_load_netbios(const rapidjson::Value &doc)
{
    g_node.reset();
    const Value *v = member(doc, "netbios");
    if (v == nullptr)
        return 0;
    FakeNetbiosNode node;
    if (!read_node(*v, &node))
        return -1;
    g_node = std::move(node);
    return 0;
}

void fake_release_netbios()
{
    g_node.reset();
}

std::optional<FakeNetbiosNode> vnb_fake_netbios()
{
    return g_node;
}

bool vnb_fake_is_own_host(const char *host)
{
    if (host == nullptr)
        return false;
    if (vnb_casecmp(host, "fake") == 0)
        return true;
    uint32_t ip = 0;
    return g_node && vnb_ipv4_parse(host, &ip) && ip == g_node->address;
}
