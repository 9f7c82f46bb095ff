#include "server_list.h"

#include <utility>

namespace serve {

using Clock = std::chrono::steady_clock;

ServerList::ServerList(Discover discover, std::chrono::milliseconds life)
    : discover_(std::move(discover)), life_(life)
{
}

bool ServerList::servers(NetServers &out, std::string &why)
{
    auto fresh = [this] { return have_ && Clock::now() - at_ < life_; };
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fresh()) {
            out = found_;
            return true;
        }
    }
    std::lock_guard<std::mutex> running(running_);
    {
        // Another request may have run it while this one waited.
        std::lock_guard<std::mutex> lock(mutex_);
        if (fresh()) {
            out = found_;
            return true;
        }
    }
    NetServers found;
    const bool ok = discover_(found, why);
    std::lock_guard<std::mutex> lock(mutex_);
    runs_++;
    if (!ok)
        return false;
    found_ = std::move(found);
    at_ = Clock::now();
    have_ = true;
    out = found_;
    return true;
}

ServerList::Found ServerList::find(std::string_view name, NetServer &out, std::string &why)
{
    NetServers found;
    if (!servers(found, why))
        return Found::failed;
    for (NetServer &s : found.servers) {
        if (same_server_name(s.name, name)) {
            out = std::move(s);
            return Found::yes;
        }
    }
    return Found::not_listed;
}

int ServerList::runs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return runs_;
}

bool same_server_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    for (size_t i = 0; i < a.size(); i++)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

}  // namespace serve
