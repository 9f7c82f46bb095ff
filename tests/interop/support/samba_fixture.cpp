#include "interop/support/samba_fixture.h"

namespace interop {

const std::vector<std::string> kAwkwardNames = {
    "with spaces in it.txt",
    "accentu\u00e9 caf\u00e9 na\u00efve.txt",
    "\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb.txt",  // CJK
    "non-BMP \U0001F600 \U0001D11E.txt",                     // surrogate pairs in UTF-16
    "UPPER lower MiXeD.TXT",
};

const std::vector<std::string> kHiddenNames = {".dotfile", "$dollar", "@eaDir"};

void populate_standard(SambaServer &s)
{
    ASSERT_TRUE(s.add_user(kReader, kReaderPassword));
    ASSERT_TRUE(s.add_user(kOther, kOtherPassword));

    s.add_share(read_only_share(kPublicShare));
    s.add_share(private_share(kPrivateShare, kReader));
    s.add_share(writable_share(kWritableShare));

    s.write_file(kPublicShare, kHelloName, kHelloText);
    s.write_random_file(kPublicShare, "Movies/clip.bin", 100000, 1);
    for (const auto &name : kAwkwardNames)
        s.write_file(kPublicShare, "Names/" + name, "");
    for (const auto &name : kHiddenNames)
        s.write_file(kPublicShare, "Hidden/" + name, "");
    s.write_file(kPublicShare, std::string("Hidden/") + kShownName, "");

    s.write_file(kPrivateShare, kSecretName, kSecretText);

    s.write_file(kWritableShare, "notes.txt", "the suite checks that nothing here changes\n");
    s.write_random_file(kWritableShare, "sub/data.bin", 70000, 2);
    s.set_mtime(kWritableShare, "notes.txt", 1000000000);
}

SambaServer *pooled_server(ServerPool &pool, const std::string &key, const SambaOptions &options,
                           const std::function<void(SambaServer &)> &populate)
{
    auto &slot = pool[key];
    if (!slot) {
        auto s = std::make_unique<SambaServer>(options);
        populate(*s);
        if (testing::Test::HasFatalFailure())
            return nullptr;
        if (!s->start()) {
            ADD_FAILURE() << "the server did not start";
            return nullptr;
        }
        slot = std::move(s);
    }
    return slot.get();
}

void SambaTest::populate(SambaServer &s)
{
    populate_standard(s);
}

void SambaTest::SetUp()
{
    if (auto why = SambaServer::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    server_ = std::make_unique<SambaServer>(server_options());
    populate(*server_);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(server_->start());
}

void SambaTest::TearDown()
{
    server_.reset();
}

}  // namespace interop
