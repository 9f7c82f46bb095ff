#include "api/discovery.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>

#include "api/name_service.h"
#include "net/clock.h"
#include "net/node_status.h"
#include "sess/rap.h"
#include "util/error.h"
#include "util/text.h"

namespace {

constexpr size_t kMaxNodes = 64;      // node statuses asked at most
constexpr size_t kMaxLookups = 64;    // browse-list names looked up at most
constexpr int kMinStepMs = 100;       // a step that has less time left is not started
constexpr NbTiming kSweepTiming{2, 300, 1200};
constexpr NbTiming kLookupTiming{2, 300, 1000};

std::string upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

struct Work {
    Work(const DiscoveryRequest &request, NameService service, uint64_t until)
        : rq(request), ns(std::move(service)), deadline(until)
    {
    }

    const DiscoveryRequest &rq;
    NameService ns;
    uint64_t deadline = 0;
    std::set<uint32_t> responders;                    // answered a broadcast query
    std::map<uint32_t, NodeInfo> nodes;               // gave a node status
    std::map<std::string, uint32_t> masters;          // workgroup -> its master browser
    std::map<std::string, FoundServer> servers;       // by upper-case name
    std::map<std::string, FoundWorkgroup> workgroups; // by upper-case name
    std::vector<std::string> notes;

    int left() const
    {
        int64_t ms = static_cast<int64_t>(deadline) - static_cast<int64_t>(vnb_now_ms());
        return static_cast<int>(std::max<int64_t>(ms, 0));
    }
    bool wanted(const std::string &workgroup) const
    {
        return rq.workgroup.empty() || vnb_casecmp(workgroup.c_str(), rq.workgroup.c_str()) == 0;
    }
    FoundWorkgroup &workgroup(const std::string &name)
    {
        FoundWorkgroup &w = workgroups[upper(name)];
        if (w.name.empty())
            w.name = upper(name);
        return w;
    }
    void set_master(const std::string &workgroup, uint32_t address)
    {
        if (masters.emplace(upper(workgroup), address).second)
            this->workgroup(workgroup).address = vnb_ipv4_text(address);
    }
};

NbTiming within(const NbTiming &t, int left)
{
    NbTiming fitted = t;
    fitted.window_ms = std::min(t.window_ms, left);
    return fitted;
}

NbQuery broadcast_query(const NbName &name, bool collect)
{
    NbQuery q;
    q.ask = NbnsAsk::broadcast;
    q.name = name;
    q.collect = collect;
    return q;
}

// Master browsers and every node that answers "*", and for a workgroup
// asked for, its master browser and members.
void sweep(Work &w)
{
    const NameSettings &names = w.rq.names;
    if (!names.broadcast) {
        w.notes.push_back(names.wins != 0 ? "broadcasts are switched off: only the WINS server was asked"
                                          : "broadcasts are switched off and no WINS server is set");
        return;
    }
    if (w.ns.nets.empty()) {
        w.notes.push_back("no network interface to broadcast on");
        return;
    }
    std::vector<NbQuery> qs = {broadcast_query(nb_name_msbrowse(), true), broadcast_query(nb_name_wildcard(), true)};
    NbName master;
    NbName members;
    bool one = !w.rq.workgroup.empty() && nb_name_make(w.rq.workgroup, kNbLocalMaster, &master) &&
               nb_name_make(w.rq.workgroup, kNbWorkstation, &members);
    if (one) {
        qs.push_back(broadcast_query(master, true));
        qs.push_back(broadcast_query(members, true));
    }
    if (vnb_nbns_run(w.ns, qs, within(kSweepTiming, w.left() / 3), w.deadline) != 0) {
        w.notes.push_back(std::string("cannot broadcast: ") + vnb_error());
        return;
    }
    for (const NbQuery &q : qs)
        for (const NbAnswer &a : q.answers)
            w.responders.insert(a.from);
    if (one)
        for (const NbAnswer &a : qs[2].answers)
            w.set_master(w.rq.workgroup, a.from);
    if (std::all_of(qs.begin(), qs.end(), [](const NbQuery &q) { return !q.sent; }))
        w.notes.push_back("cannot broadcast: " + qs[0].send_error);
}

// A workgroup's master browser by its <1B> and <1D> names at the WINS server.
void ask_wins(Work &w)
{
    const NameSettings &names = w.rq.names;
    NbName dmb;
    NbName lmb;
    if (names.wins == 0 || w.rq.workgroup.empty() || !nb_name_make(w.rq.workgroup, kNbDomainMaster, &dmb) ||
        !nb_name_make(w.rq.workgroup, kNbLocalMaster, &lmb) || w.left() < kMinStepMs)
        return;
    std::vector<NbQuery> qs(2);
    for (NbQuery &q : qs) {
        q.ask = NbnsAsk::name_server;
        q.to = names.wins;
    }
    qs[0].name = lmb;
    qs[1].name = dmb;
    vnb_nbns_run(w.ns, qs, within(kLookupTiming, w.left() / 3), w.deadline);
    for (const NbQuery &q : qs) {
        uint32_t ip = 0;
        for (const NbAnswer &a : q.answers)
            if (vnb_nb_answer_address(w.ns, a, &ip))
                w.set_master(w.rq.workgroup, ip);
    }
}

void add_node_server(Work &w, uint32_t address, const NodeInfo &info)
{
    if (!info.file_server || info.name.empty() || !w.wanted(info.workgroup))
        return;
    FoundServer &s = w.servers[upper(info.name)];
    s.name = info.name;
    s.address = vnb_ipv4_text(address);
    s.mac = info.mac_text();
    s.by_broadcast = true;
    if (s.workgroup.empty())
        s.workgroup = info.workgroup;
}

// A node status of every node that answered, and of every master browser.
void node_statuses(Work &w)
{
    std::set<uint32_t> targets = w.responders;
    for (const auto &[name, address] : w.masters)
        targets.insert(address);
    if (targets.empty() || w.left() < kMinStepMs)
        return;
    std::vector<NbQuery> qs;
    for (uint32_t address : targets) {
        if (qs.size() >= kMaxNodes)
            break;
        NbQuery q;
        q.ask = NbnsAsk::node_status;
        q.to = address;
        qs.push_back(q);
    }
    vnb_nbns_run(w.ns, qs, within(kNodeStatusTiming, w.left() / 2), w.deadline);
    for (const NbQuery &q : qs) {
        if (q.answers.empty())
            continue;
        NodeInfo info = vnb_node_info(q.answers.front().reply);
        for (const std::string &wg : info.master_of) {
            w.set_master(wg, q.to);
            w.workgroup(wg).master = info.name;
        }
        if (!info.workgroup.empty() && w.wanted(info.workgroup))
            w.workgroup(info.workgroup);
        add_node_server(w, q.to, info);
        w.nodes[q.to] = std::move(info);
    }
}

void add_browse_entry(Work &w, const std::string &workgroup, const RapServer &e)
{
    if ((e.type & kSvTypeServer) == 0 || e.name.empty())
        return;
    FoundServer &s = w.servers[upper(e.name)];
    if (s.name.empty())
        s.name = e.name;
    s.workgroup = upper(workgroup);
    s.comment = e.comment;
    s.by_browse = true;
}

// The masters of workgroups a browse list named, by their <1D> names.
void find_masters(Work &w, const std::vector<std::string> &workgroups)
{
    if (workgroups.empty() || !w.rq.names.broadcast || w.ns.nets.empty() || w.left() < kMinStepMs)
        return;
    std::vector<NbQuery> qs;
    for (const std::string &wg : workgroups) {
        NbName name;
        if (nb_name_make(wg, kNbLocalMaster, &name))
            qs.push_back(broadcast_query(name, false));
    }
    vnb_nbns_run(w.ns, qs, within(kLookupTiming, w.left() / 2), w.deadline);
    for (const NbQuery &q : qs)
        if (!q.answers.empty())
            w.set_master(nb_name_text(q.name), q.answers.front().from);
}

// Logs on to one master browser and reads its browse list; the first one
// asked also gives the list of workgroups.
void browse(Work &w, const std::string &workgroup, uint32_t address, bool with_workgroups,
            std::vector<std::string> *others)
{
    auto s = std::make_unique<Session>();
    s->timeout_ms = std::max(w.left(), 1);
    std::string where = workgroup + ": the browse list of " + vnb_ipv4_text(address);
    const DiscoveryRequest &rq = w.rq;
    int32_t rc = vnb_connect(*s, rq.kind, vnb_ipv4_text(address).c_str(), 0, rq.domain.c_str(), rq.user.c_str(),
                             rq.password.c_str());
    std::vector<RapServer> list;
    bool more = false;
    if (rc == 0)
        rc = vnb_rap_server_enum(*s, kSvTypeAll, workgroup, &list, &more);
    if (rc != 0) {
        w.notes.push_back(where + ": " + vnb_error());
        vnb_disconnect(*s);
        return;
    }
    if (more)
        w.notes.push_back(where + " was cut short by the server");
    for (const RapServer &e : list)
        add_browse_entry(w, workgroup, e);
    if (with_workgroups && vnb_rap_server_enum(*s, kSvTypeDomainEnum, workgroup, &list, &more) == 0) {
        for (const RapServer &e : list) {
            if (e.name.empty())
                continue;
            FoundWorkgroup &found = w.workgroup(e.name);
            if (found.master.empty())
                found.master = e.comment;
            if (w.masters.count(upper(e.name)) == 0)
                others->push_back(upper(e.name));
        }
    }
    vnb_disconnect(*s);
}

void browse_lists(Work &w)
{
    std::deque<std::string> todo;
    for (const auto &[name, address] : w.masters)
        if (w.wanted(name))
            todo.push_back(name);
    if (todo.empty() && w.rq.names.broadcast && !w.ns.nets.empty())
        w.notes.push_back("no local master browser answered");
    std::set<std::string> done;
    bool workgroups_listed = !w.rq.workgroup.empty();
    while (!todo.empty() && w.left() >= kMinStepMs) {
        std::string wg = todo.front();
        todo.pop_front();
        if (!done.insert(wg).second)
            continue;
        std::vector<std::string> others;
        browse(w, wg, w.masters[wg], !workgroups_listed, &others);
        workgroups_listed = true;
        find_masters(w, others);
        for (const std::string &other : others) {
            if (w.masters.count(other) != 0)
                todo.push_back(other);
            else
                w.notes.push_back(other + ": no master browser answered");
        }
    }
    for (const std::string &wg : todo)
        w.notes.push_back(wg + ": no time left for its browse list");
}

// Addresses for servers that only a browse list named.
void look_up_addresses(Work &w)
{
    std::vector<FoundServer *> missing;
    for (auto &[key, s] : w.servers)
        if (s.address.empty() && missing.size() < kMaxLookups)
            missing.push_back(&s);
    bool broadcast = w.rq.names.broadcast && !w.ns.nets.empty();
    if (missing.empty() || w.left() < kMinStepMs || (!broadcast && w.rq.names.wins == 0))
        return;
    std::vector<NbQuery> qs;
    std::vector<FoundServer *> asked;
    for (FoundServer *s : missing) {
        NbName name;
        if (!nb_name_make(s->name, kNbFileServer, &name))
            continue;
        if (broadcast) {
            qs.push_back(broadcast_query(name, false));
            asked.push_back(s);
        }
        if (w.rq.names.wins != 0) {
            NbQuery q;
            q.ask = NbnsAsk::name_server;
            q.name = name;
            q.to = w.rq.names.wins;
            qs.push_back(q);
            asked.push_back(s);
        }
    }
    vnb_nbns_run(w.ns, qs, within(kLookupTiming, w.left()), w.deadline);
    for (size_t i = 0; i < qs.size(); i++) {
        uint32_t ip = 0;
        for (const NbAnswer &a : qs[i].answers)
            if (asked[i]->address.empty() && vnb_nb_answer_address(w.ns, a, &ip))
                asked[i]->address = vnb_ipv4_text(ip);
    }
}

}  // namespace

void vnb_discover(const DiscoveryRequest &rq, DiscoveryResult *out)
{
    *out = DiscoveryResult{};
    std::function<NameService()> service = vnb_name_service_for(rq.kind);
    if (!service) {
        out->notes.push_back("the host relay carries no name service");
        return;
    }
    Work w(rq, service(), vnb_now_ms() + static_cast<uint64_t>(std::clamp(rq.bound_ms, kMinDiscoveryMs, kMaxDiscoveryMs)));
    sweep(w);
    ask_wins(w);
    node_statuses(w);
    browse_lists(w);
    look_up_addresses(w);

    for (auto &[key, s] : w.servers)
        if (w.wanted(s.workgroup))
            out->servers.push_back(std::move(s));
    std::stable_sort(out->servers.begin(), out->servers.end(), [](const FoundServer &a, const FoundServer &b) {
        return a.workgroup != b.workgroup ? a.workgroup < b.workgroup : a.name < b.name;
    });
    for (auto &[key, wg] : w.workgroups)
        if (w.wanted(wg.name))
            out->workgroups.push_back(std::move(wg));
    out->notes = std::move(w.notes);
}

std::string vnb_discovery_json(const DiscoveryResult &r)
{
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> j(text);
    auto str = [&j](const std::string &s) { j.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size())); };
    j.StartObject();
    j.Key("servers");
    j.StartArray();
    for (const FoundServer &s : r.servers) {
        j.StartObject();
        j.Key("name");
        str(s.name);
        j.Key("workgroup");
        str(s.workgroup);
        j.Key("address");
        str(s.address);
        j.Key("comment");
        str(s.comment);
        if (!s.mac.empty()) {
            j.Key("mac");
            str(s.mac);
        }
        j.Key("found_by");
        j.StartArray();
        if (s.by_browse)
            j.String("browse");
        if (s.by_broadcast)
            j.String("broadcast");
        j.EndArray();
        j.EndObject();
    }
    j.EndArray();
    j.Key("workgroups");
    j.StartArray();
    for (const FoundWorkgroup &w : r.workgroups) {
        j.StartObject();
        j.Key("name");
        str(w.name);
        j.Key("master");
        str(w.master);
        j.Key("address");
        str(w.address);
        j.EndObject();
    }
    j.EndArray();
    j.Key("notes");
    j.StartArray();
    for (const std::string &n : r.notes)
        str(n);
    j.EndArray();
    j.EndObject();
    return text.GetString();
}
