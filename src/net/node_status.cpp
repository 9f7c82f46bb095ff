#include "net/node_status.h"

#include <cstdio>

#include "util/error.h"

std::string NodeInfo::mac_text() const
{
    bool zero = true;
    for (uint8_t b : mac)
        zero = zero && b == 0;
    if (!has_mac || zero)
        return {};
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

NodeInfo vnb_node_info(const NbnsReply &reply)
{
    NodeInfo info;
    info.names = reply.names;
    info.has_mac = reply.has_mac;
    info.mac = reply.mac;
    std::string server_name;
    for (const NbStatusName &n : reply.names) {
        bool group = (n.flags & kNbGroupName) != 0;
        std::string text = nb_name_text(n.name);
        if (text.empty() || n.name == nb_name_msbrowse())
            continue;
        switch (n.name.suffix()) {
        case kNbWorkstation:
            if (group && info.workgroup.empty())
                info.workgroup = text;
            else if (!group && info.name.empty())
                info.name = text;
            break;
        case kNbFileServer:
            if (!group) {
                info.file_server = true;
                if (server_name.empty())
                    server_name = text;
            }
            break;
        case kNbLocalMaster:
            if (!group)
                info.master_of.push_back(text);
            break;
        default:
            break;
        }
    }
    if (info.name.empty())
        info.name = server_name;
    return info;
}

int32_t vnb_node_status(const NameService &ns, uint32_t ip, uint64_t deadline_ms, NodeInfo *out)
{
    NbQuery q;
    q.ask = NbnsAsk::node_status;
    q.to = ip;
    if (vnb_nbns_run(ns, std::span<NbQuery>(&q, 1), kNodeStatusTiming, deadline_ms) != 0)
        return -1;
    if (q.answers.empty()) {
        if (!q.sent)
            return vnb_fail(-1, "cannot send a node status to %s: %.200s", vnb_ipv4_text(ip).c_str(),
                            q.send_error.c_str());
        return vnb_fail(-1, "no node status from %s", vnb_ipv4_text(ip).c_str());
    }
    *out = vnb_node_info(q.answers.front().reply);
    return 0;
}
