// The network's servers as the gateway serves them: the list discovery
// gave, kept for a short while, and the only names a request may reach.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "servers.h"

namespace serve {

class ServerList {
public:
    // Runs discovery: true with the servers found, or false with the reason.
    using Discover = std::function<bool(NetServers &found, std::string &why)>;

    ServerList(Discover discover, std::chrono::milliseconds life);

    // The servers, from a discovery at most `life` old; one discovery runs at
    // a time, and requests that come meanwhile take its list. False with the
    // reason when discovery failed.
    bool servers(NetServers &out, std::string &why);
    enum class Found { yes, not_listed, failed };
    // The server of the list whose name is `name` (NetBIOS names: ASCII case
    // aside); not_listed when the list names none, so that no name a client
    // sends is ever connected to unless discovery listed it; failed (with
    // the reason) when discovery failed.
    Found find(std::string_view name, NetServer &out, std::string &why);
    // Discoveries run so far.
    int runs() const;

private:
    Discover discover_;
    std::chrono::milliseconds life_;
    std::mutex running_;        // held across a discovery: one at a time
    mutable std::mutex mutex_;  // the list alone
    NetServers found_;
    std::chrono::steady_clock::time_point at_{};
    bool have_ = false;
    int runs_ = 0;
};

// NetBIOS names compare without regard to ASCII case.
bool same_server_name(std::string_view a, std::string_view b);

}  // namespace serve
