// Finding the NAS on a real NetBIOS network: Samba's nmbd and smbd in a
// network namespace of their own, the client in another, joined by a veth
// pair (support/netns_lab.h). Nothing sent here leaves the two namespaces;
// the suite skips itself where they cannot be made.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <chrono>
#include <string>
#include <thread>

#include "api/session_ops.h"
#include "interop/support/netns_lab.h"
#include "net/clock.h"
#include "net/nbns_client.h"
#include "net/netif.h"
#include "net/node_status.h"
#include "sess/share_list.h"
#include "vnsmb1c.h"

namespace {

using interop::NetnsLab;

class NetbiosLab : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = NetnsLab::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        lab = std::make_unique<NetnsLab>();
        ASSERT_TRUE(lab->start());
    }
    void TearDown() override
    {
        if (lab) {
            lab->in_client([] {
                vnsmb1c_disconnect();
                vnsmb1c_set_name_resolve("netbios,dns", "", 1);
            });
        }
        lab.reset();
    }

    std::unique_ptr<NetnsLab> lab;
};

uint32_t server_address()
{
    uint32_t ip = 0;
    vnb_ipv4_parse(interop::kLabServerAddress, &ip);
    return ip;
}

// The client's broadcast domain is its one link; a node status of the NAS
// gives its names, workgroup and the MAC it reports.
TEST_F(NetbiosLab, TheLinkAndTheNodeStatusOfTheNas)
{
    lab->in_client([&] {
        std::vector<Ipv4Net> nets = vnb_host_broadcast_nets();
        ASSERT_EQ(nets.size(), 1u);
        EXPECT_EQ(nets[0].name, lab->client_interface());
        EXPECT_EQ(vnb_ipv4_text(nets[0].address), interop::kLabClientAddress);
        EXPECT_EQ(vnb_ipv4_text(nets[0].broadcast), "192.0.2.255");

        NodeInfo info;
        ASSERT_EQ(vnb_node_status(vnb_host_name_service(), server_address(), vnb_now_ms() + 3000, &info), 0);
        EXPECT_EQ(info.name, interop::kLabServerName);
        EXPECT_EQ(info.workgroup, interop::kLabWorkgroup);
        EXPECT_TRUE(info.file_server);
        EXPECT_TRUE(info.has_mac);
        EXPECT_EQ(info.mac_text(), "");  // Samba reports a MAC of zeros
        bool has_server_name = false;
        for (const NbStatusName &n : info.names)
            has_server_name = has_server_name || (nb_name_text(n.name) == interop::kLabServerName &&
                                                  n.name.suffix() == kNbFileServer);
        EXPECT_TRUE(has_server_name);
    });
}

TEST_F(NetbiosLab, NasByBroadcastAndByWinsWithItsSharesOverRap)
{
    lab->in_client([&] {
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        // By broadcast: the name query finds smbd's address.
        ASSERT_EQ(vnsmb1c_set_name_resolve("netbios", "", 1), 0);
        ASSERT_EQ(vnsmb1c_connect("vnsmbtnas", 0, nullptr, nullptr, nullptr), 0) << vnsmb1c_last_error();
        EXPECT_EQ(vnb_default_session().resolved.method, "broadcast");
        EXPECT_EQ(vnb_default_session().resolved.address, interop::kLabServerAddress);
        // This smbd has no DCE/RPC: \srvsvc is refused and RAP lists the share.
        EXPECT_NE(vnb_srvsvc_share_enum(vnb_default_session()), 0);
        ASSERT_EQ(vnsmb1c_shares(), 1) << vnsmb1c_last_error();
        EXPECT_STREQ(vnsmb1c_share_name(0), interop::kLabShare);
        ASSERT_EQ(vnsmb1c_list(interop::kLabShare, nullptr), 1) << vnsmb1c_last_error();
        vnsmb1c_disconnect();

        // By WINS alone: a name no node answers to, broadcasts off.
        ASSERT_EQ(vnsmb1c_set_name_resolve("netbios", interop::kLabServerAddress, 0), 0);
        ASSERT_EQ(vnsmb1c_connect(interop::kLabWinsOnlyName, 0, nullptr, nullptr, nullptr), 0)
            << vnsmb1c_last_error();
        EXPECT_EQ(vnb_default_session().resolved.method, "WINS");
        vnsmb1c_disconnect();

        // Neither knows it: the text says what was asked.
        EXPECT_EQ(vnsmb1c_connect("vnsmbtghost", 0, nullptr, nullptr, nullptr), -1);
        EXPECT_STREQ(vnsmb1c_last_error(), "cannot resolve vnsmbtghost: tried netbios (WINS 192.0.2.1: does not "
                                           "know the name; broadcast switched off)");
        ASSERT_EQ(vnsmb1c_set_name_resolve("netbios", "", 1), 0);
        EXPECT_EQ(vnsmb1c_connect(interop::kLabWinsOnlyName, 0, nullptr, nullptr, nullptr), -1);
        EXPECT_EQ(std::string(vnsmb1c_last_error()),
                  std::string("cannot resolve ") + interop::kLabWinsOnlyName + ": tried netbios (broadcast on " +
                      lab->client_interface() + ": no answer)");
    });
}

TEST_F(NetbiosLab, TheToolFindsTheNasByName)
{
    ProcessResult shares = lab->tool({"--name-resolve", "netbios", "shares", "smb://VNSMBTNAS"});
    EXPECT_EQ(shares.exit_code, 0) << shares.output;
    EXPECT_NE(shares.output.find("media\n"), std::string::npos) << shares.output;
    ProcessResult cat = lab->tool({"--name-resolve", "netbios", "cat", "smb://vnsmbtnas/media/film.txt"});
    EXPECT_EQ(cat.exit_code, 0) << cat.output;
    EXPECT_EQ(cat.output, "a film\n");
    ProcessResult wins = lab->tool({"--no-broadcast", "--wins", "192.0.2.1", "--name-resolve", "netbios", "ls",
                                    "smb://VNSMBTWINS/media"});
    EXPECT_EQ(wins.exit_code, 0) << wins.output;
    EXPECT_NE(wins.output.find("film.txt"), std::string::npos) << wins.output;
}

// nmbd becomes the workgroup's master browser some seconds after it starts
// and writes the browse list smbd serves a little later: the test waits for
// it (at most 90 s), then lists the network with the tool.
TEST_F(NetbiosLab, ServersListsTheNasWithItsWorkgroupAndComment)
{
    bool listed = false;
    lab->in_client([&] {
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        while (!listed && std::chrono::steady_clock::now() < until) {
            int n = vnsmb1c_servers(R"({"DiscoveryMs":3000,"NameResolve":"netbios"})");
            listed = n > 0 && std::string(vnsmb1c_servers_json()).find("\"browse\"") != std::string::npos;
            if (!listed)
                std::this_thread::sleep_for(std::chrono::seconds(2));
        }
    });
    ASSERT_TRUE(listed) << "the browse list never named the server:\n" << lab->log_tail();

    ProcessResult json = lab->tool({"servers", "--json"});
    ASSERT_EQ(json.exit_code, 0) << json.output;
    rapidjson::Document doc;
    doc.Parse(json.output.c_str());
    ASSERT_FALSE(doc.HasParseError()) << json.output;
    ASSERT_TRUE(doc["servers"].IsArray());
    ASSERT_EQ(doc["servers"].Size(), 1u) << json.output;
    const rapidjson::Value &nas = doc["servers"][0];
    EXPECT_STREQ(nas["name"].GetString(), interop::kLabServerName);
    EXPECT_STREQ(nas["workgroup"].GetString(), interop::kLabWorkgroup);
    EXPECT_STREQ(nas["address"].GetString(), interop::kLabServerAddress);
    EXPECT_STREQ(nas["comment"].GetString(), interop::kLabComment);
    ASSERT_EQ(nas["found_by"].Size(), 2u) << json.output;
    EXPECT_STREQ(nas["found_by"][0].GetString(), "browse");
    EXPECT_STREQ(nas["found_by"][1].GetString(), "broadcast");
    EXPECT_STREQ(doc["workgroups"][0]["master"].GetString(), interop::kLabServerName);

    ProcessResult table = lab->tool({"ls", "smb://VNSMBTWG/"});
    EXPECT_EQ(table.exit_code, 0) << table.output;
    EXPECT_NE(table.output.find("VNSMBTNAS        VNSMBTWG         192.0.2.1        browse,broadcast  vnsmb1c test NAS"),
              std::string::npos)
        << table.output;
    ProcessResult none = lab->tool({"servers", "smb://NOSUCHGROUP/", "--within", "1"});
    EXPECT_EQ(none.exit_code, 14) << none.output;
}

}  // namespace
