// The fake tree: its model, the JSON loader, the shared id counter and the
// content rule of files without stored text.
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "fake/fake_internal.h"
#include "ntlm/ntlm.h"
#include "util/json.h"

FakeTree F;

namespace {

using rapidjson::SizeType;
using rapidjson::Value;

constexpr uint8_t kChallenge[8] = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};

// The first member named key, or NULL (duplicates after the first are ignored).
const Value *member(const Value &obj, const char *key)
{
    if (!obj.IsObject())
        return nullptr;
    auto it = obj.FindMember(key);
    return it == obj.MemberEnd() ? nullptr : &it->value;
}

bool non_empty_object(const Value &v)
{
    return v.IsObject() && v.MemberCount() > 0;
}

// A JSON number written without fraction or exponent, as a signed 64-bit
// value (unsigned ones above the signed range saturate).
bool integer(const Value *v, int64_t *out)
{
    if (!v || !v->IsNumber() || v->IsDouble())
        return false;
    if (v->IsInt64())
        *out = v->GetInt64();
    else if (v->IsUint64())
        *out = INT64_MAX;
    else
        return false;
    return true;
}

// The text of a JSON string up to its first NUL.
std::string_view text_of(const Value &v)
{
    std::string_view s(v.GetString(), v.GetStringLength());
    size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

char *dup_text(std::string_view s)
{
    char *p = static_cast<char *>(malloc(s.size() + 1));
    if (!p)
        return nullptr;
    if (!s.empty())
        memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

// Node ids come from the shared counter: the first node after a load is 1001.
int reg(FakeNode *n)
{
    n->id = static_cast<int64_t>(F.next_id) + 1001;
    F.next_id++;
    return 0;
}

// Releases a node and its whole subtree without recursion: it climbs back
// through the parent links, which every node of a subtree carries.
void node_free(FakeNode *top)
{
    FakeNode *n = top;
    while (n) {
        if (n->child_count > 0) {
            n = n->children[--n->child_count];
            continue;
        }
        FakeNode *up = n == top ? nullptr : n->parent;
        free(n->name);
        free(n->content);
        free(n->children);
        free(n);
        n = up;
    }
}

bool reserve_children(FakeNode *folder, uint64_t want)
{
    if (want <= folder->child_cap)
        return true;
    if (want > UINT32_MAX / 2)
        return false;
    auto cap = static_cast<uint32_t>(want);
    auto *grown = static_cast<FakeNode **>(realloc(folder->children, cap * sizeof(FakeNode *)));
    if (!grown)
        return false;
    folder->children = grown;
    folder->child_cap = cap;
    return true;
}

bool append_child(FakeNode *folder, FakeNode *child)
{
    if (folder->child_count == folder->child_cap &&
        !reserve_children(folder, std::max<uint64_t>(8, uint64_t{folder->child_cap} * 2)))
        return false;
    folder->children[folder->child_count++] = child;
    return true;
}

FakeNode *new_node(FakeNode *parent, std::string_view name, int64_t mtime)
{
    auto *n = static_cast<FakeNode *>(calloc(1, sizeof(FakeNode)));
    if (!n)
        return nullptr;
    n->name = dup_text(name);
    if (!n->name) {
        free(n);
        return nullptr;
    }
    n->kind = kNodeFile;
    n->mtime = mtime;
    n->parent = parent;
    if (reg(n) != 0) {
        node_free(n);
        return nullptr;
    }
    return n;
}

// Steps of `build` that concern the node itself: name, times, registration,
// file content. Its entries are built by the caller's loop.
FakeNode *node_start(const Value &v, FakeNode *parent)
{
    std::string_view name;
    int64_t mtime = kDefaultMtime;
    bool deny = false;
    bool object = non_empty_object(v);
    if (object) {
        if (const Value *nm = member(v, "name"); nm && nm->IsString())
            name = text_of(*nm);
        int64_t t;
        if (integer(member(v, "mtime"), &t))
            mtime = t;
        if (const Value *d = member(v, "deny"); d && d->IsBool())
            deny = d->GetBool();
    }
    FakeNode *n = new_node(parent, name, mtime);
    if (!n)
        return nullptr;
    n->deny = deny;
    if (!object)
        return n;
    if (const Value *ch = member(v, "children"); ch && ch->IsArray()) {
        n->kind = kNodeFolder;
        return n;
    }
    if (const Value *tx = member(v, "text"); tx && tx->IsString()) {
        size_t len = tx->GetStringLength();
        n->size = static_cast<int64_t>(len);
        n->content = static_cast<uint8_t *>(malloc(len + 1));
        if (n->content) {
            memcpy(n->content, tx->GetString(), len);
            n->content[len] = 0;
            n->content_len = static_cast<int64_t>(len);
        }
        return n;
    }
    int64_t size;
    if (integer(member(v, "size"), &size))
        n->size = std::max<int64_t>(size, 0);
    return n;
}

// "generate": the node becomes a folder and gets the files prefix0,
// prefix1, ... appended after its other entries.
void generate(const Value &v, FakeNode *n)
{
    int64_t count;
    if (!integer(member(v, "generate"), &count))
        return;
    n->kind = kNodeFolder;
    if (count <= 0)
        return;
    count = std::min(count, kMaxGenerated);
    std::string_view prefix = "f";
    if (const Value *p = member(v, "prefix"); p && p->IsString())
        prefix = text_of(*p);
    if (!reserve_children(n, n->child_count + static_cast<uint64_t>(count)))
        return;
    char name[64];
    for (int64_t i = 0; i < count; i++) {
        snprintf(name, sizeof name, "%.*s%lld", static_cast<int>(std::min<size_t>(prefix.size(), 63)),
                 prefix.data(), static_cast<long long>(i));
        FakeNode *f = new_node(n, name, kDefaultMtime + i);
        if (!f)
            return;
        f->size = i;
        n->children[n->child_count++] = f;
    }
}

struct BuildFrame {
    const Value *entries;  // array of node values still to build, or NULL
    const Value *source;   // the node's own JSON object (for "generate"), or NULL
    FakeNode *node;
    SizeType next;
};

// Builds the entries of `root` from a JSON array, depth-first in document
// order, each node registered before its entries and generated files after
// the explicit ones. Iterative, so deep nesting cannot exhaust the stack.
void build_entries(FakeNode *root, const Value *entries)
{
    std::vector<BuildFrame> stack;
    stack.push_back({entries, nullptr, root, 0});
    while (!stack.empty()) {
        BuildFrame &top = stack.back();
        if (top.entries && top.next < top.entries->Size()) {
            const Value &cv = (*top.entries)[top.next++];
            FakeNode *parent = top.node;
            FakeNode *c = node_start(cv, parent);
            if (!c)
                continue;
            if (!append_child(parent, c)) {
                node_free(c);
                continue;
            }
            const Value *kids = member(cv, "children");
            bool has_kids = non_empty_object(cv) && kids && kids->IsArray();
            bool has_gen = non_empty_object(cv) && member(cv, "generate");
            if (has_kids || has_gen)
                stack.push_back({has_kids ? kids : nullptr, &cv, c, 0});
            continue;
        }
        if (top.source)
            generate(*top.source, top.node);
        stack.pop_back();
    }
}

void copy_cut(char *dst, size_t cap, std::string_view s)
{
    size_t n = std::min(s.size(), cap - 1);
    if (n)
        memcpy(dst, s.data(), n);
    dst[n] = '\0';
}

int load(const char *json)
{
    if (!json)
        return -1;
    rapidjson::Document doc;
    vnb_json_parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(doc, json);
    if (doc.HasParseError() || !non_empty_object(doc))
        return -1;
    const Value *shares = member(doc, "shares");
    if (!shares || !shares->IsArray())
        return -1;

    F.shares = static_cast<FakeShare *>(calloc(shares->Size() + 1, sizeof(FakeShare)));
    if (!F.shares)
        return -1;
    for (const Value &s : shares->GetArray()) {
        if (!non_empty_object(s))
            return -1;
        const Value *nm = member(s, "name");
        if (!nm || !nm->IsString())
            return -1;
        std::string_view name(nm->GetString(), nm->GetStringLength());
        if (name.empty() || name.size() > 80 || name.find('\0') != std::string_view::npos)
            return -1;
        FakeShare &sh = F.shares[F.share_count];
        copy_cut(sh.name, sizeof sh.name, name);
        sh.root = new_node(nullptr, "", kDefaultMtime);
        if (!sh.root)
            return -1;
        sh.root->kind = kNodeFolder;
        F.share_count++;
        if (const Value *root = member(s, "root"); root && root->IsArray())
            build_entries(sh.root, root);
    }

    if (const Value *users = member(doc, "users"); users && users->IsArray()) {
        F.users = static_cast<FakeUser *>(calloc(users->Size() + 1, sizeof(FakeUser)));
        if (!F.users)
            return -1;
        for (const Value &u : users->GetArray()) {
            const Value *nm = member(u, "name");
            if (!nm || !nm->IsString())
                continue;
            FakeUser &fu = F.users[F.user_count++];
            copy_cut(fu.name, sizeof fu.name, text_of(*nm));
            if (const Value *pw = member(u, "pass"); pw && pw->IsString())
                copy_cut(fu.pass, sizeof fu.pass, text_of(*pw));
        }
    }
    if (F.user_count == 0) {
        F.guest_allowed = 1;
    } else if (const Value *g = member(doc, "guest"); g && g->IsBool()) {
        F.guest_allowed = g->GetBool() ? 1 : 0;
    }

    if (fake_load_netbios(doc) != 0)
        return -1;
    F.loaded = 1;
    memcpy(F.challenge, kChallenge, sizeof kChallenge);
    memcpy(g_fake_challenge, kChallenge, sizeof kChallenge);
    return 0;
}

}  // namespace

void fake_tree_release()
{
    for (uint32_t i = 0; F.shares && i < F.share_count; i++)
        node_free(F.shares[i].root);
    free(F.shares);
    free(F.users);
    fake_release_netbios();
    uint64_t generation = F.generation;
    memset(&F, 0, sizeof F);
    F.generation = generation + 1;
    F.faults.page = 50;
}

int vnb_fake_load(const char *json)
{
    fake_state_reset(fake_default_connection().st);
    fake_tree_release();
    try {
        return load(json);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

int vnb_fake_loaded()
{
    return F.loaded;
}

uint8_t fake_content_byte(const FakeNode *node, uint64_t o)
{
    if (node->content)
        return o < static_cast<uint64_t>(node->content_len) ? node->content[o] : 0;
    uint64_t v = 31 * static_cast<uint64_t>(node->id) + 7 * o + (o >> 8);
    return static_cast<uint8_t>(v);
}

FakeShare *fake_share_by_tid(uint32_t tid)
{
    if (tid < 1 || tid > F.share_count)
        return nullptr;
    return &F.shares[tid - 1];
}

uint32_t fake_draw_fid(const FakeServerState &st)
{
    // A FID still held by an open handle is skipped; 64 handles bound the loop.
    for (;;) {
        F.next_id++;
        auto fid = static_cast<uint32_t>(((F.next_id << 4) & 0xFFFF) | 1);
        if (!fake_handle_by_fid(st, fid))
            return fid;
    }
}

uint32_t fake_draw_sid(const FakeServerState &st)
{
    for (;;) {
        F.next_id++;
        auto sid = static_cast<uint32_t>(F.next_id & 0xFFFF);
        if (sid == 0)
            continue;
        bool taken = false;
        for (const FakeSearch &s : st.searches)
            taken = taken || (s.used && s.sid == sid);
        if (!taken)
            return sid;
    }
}

void fake_sort_children(FakeNode *folder)
{
    if (folder->child_count < 2)
        return;
    std::stable_sort(folder->children, folder->children + folder->child_count,
                     [](const FakeNode *a, const FakeNode *b) { return strcmp(a->name, b->name) < 0; });
}
