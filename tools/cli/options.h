// What the command line asks of every command: the options before and after
// the command word, and the server a URL names.
#pragma once

#include <cstdint>
#include <string>

// A fault switch of the fake server, thrown once a transfer has copied
// at_bytes (or before connecting when at_bytes is negative).
struct FakeFault {
    std::string name;
    int value = 0;
    int64_t at_bytes = -1;
};

struct GlobalOptions {
    std::string fake_tree;  // path of a fake tree JSON, empty for the network
    bool relay = false;
    double timeout_s = 0;   // 0: the library's default
    // The identity of -U, -P, -W and the credentials file; empty fields
    // leave the URL's.
    std::string user;
    std::string password;
    bool password_given = false;  // -P, -U USER%PASSWORD or the file, even when empty
    std::string domain;
    std::string auth_file;        // -A
    bool quiet = false;
    FakeFault fault;
    int64_t read_ahead = -1;  // bytes per open file; -1 leaves the library's default
    // Old servers: --legacy-auth and --code-page, empty when not given.
    std::string legacy_auth;
    std::string code_page;
    // How server names are found (vnsmb1c_set_name_resolve); empty: as they are.
    std::string name_resolve;
    std::string wins;
    bool no_broadcast = false;
};

// A parsed smb:// URL with the credentials options and environment supply.
struct Target {
    std::string url;  // as given on the command line
    std::string host;
    int port = 0;
    std::string domain;
    std::string user;
    std::string password;
    bool password_given = false;  // from -P, the URL, the environment or the prompt
    std::string path;             // share-qualified, "" for the server itself
};
