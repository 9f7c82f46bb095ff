// The fixture of the interop tests: a fresh Samba server per test with the
// standard users, shares and files below. Tests skip when the machine cannot
// run Samba (SambaServer::unavailable).
//
// Derived fixtures change the server by overriding server_options() (e.g.
// mandatory signing) and populate() (more shares and files; call
// SambaTest::populate first to keep the standard layout).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interop/support/samba_server.h"

namespace interop {

// Accounts: the reader may use every share, the other user all but "private".
inline constexpr char kReader[] = "vnsmbt_reader";
inline constexpr char kReaderPassword[] = "Reader-pass-1";
inline constexpr char kOther[] = "vnsmbt_other";
inline constexpr char kOtherPassword[] = "Other-pass-2";

// "public": guest ok, read only. "private": only kReader, whose Unix account
// also owns the tree. "writable": writable by anyone, guests included; the
// suite takes tree_manifest() of it before and after a client works on it.
inline constexpr char kPublicShare[] = "public";
inline constexpr char kPrivateShare[] = "private";
inline constexpr char kWritableShare[] = "writable";

// Files of the standard layout.
inline constexpr char kHelloName[] = "hello.txt";  // in public
inline constexpr char kHelloText[] = "hello from samba\n";
inline constexpr char kSecretName[] = "secret.txt";  // in private
inline constexpr char kSecretText[] = "only for the reader\n";
// public/Names/ holds one empty file by each of these names.
extern const std::vector<std::string> kAwkwardNames;
// public/Hidden/ holds these (hidden by name: first character . $ or @),
// next to the one visible file kShownName.
extern const std::vector<std::string> kHiddenNames;
inline constexpr char kShownName[] = "shown.txt";

// The standard users, shares and files above (fatal gtest failures when a
// user cannot be added). SambaTest::populate calls it; suites sharing one
// server between tests call it themselves.
void populate_standard(SambaServer &server);

// Servers that the tests of one suite share, one per key (building their
// content takes seconds; the tests do not change it). The suite clears its
// pool in TearDownTestSuite.
using ServerPool = std::map<std::string, std::unique_ptr<SambaServer>>;

// The pool's server for key; the first time it is made with options, given
// its users, shares and files by populate, and started. nullptr after a
// failure (reported to the test).
SambaServer *pooled_server(ServerPool &pool, const std::string &key, const SambaOptions &options,
                           const std::function<void(SambaServer &)> &populate);

class SambaTest : public testing::Test {
protected:
    virtual SambaOptions server_options() { return {}; }
    // Users, shares and files before the server starts.
    virtual void populate(SambaServer &server);

    void SetUp() override;
    void TearDown() override;

    SambaServer &server() { return *server_; }

private:
    std::unique_ptr<SambaServer> server_;
};

}  // namespace interop
