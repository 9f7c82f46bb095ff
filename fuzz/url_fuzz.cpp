// URLs and caller paths: vnsmb1c_url_parse, the path canonicaliser, the
// search-pattern check and the share splitter. The first input byte picks the
// output capacities (so that every "does not fit" branch is reachable), the
// rest is the text.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "util/path.h"
#include "vnsmb1c.h"

namespace {

// Capacities as the library's callers use them, or all cut down to 1..64.
int32_t capacity(uint8_t choice, int32_t full)
{
    return (choice & 0x80) != 0 ? (choice & 0x3F) + 1 : full;
}

void check_canonical(const char *path)
{
    std::string p(path);
    FUZZ_CHECK(p.find("//") == std::string::npos);
    FUZZ_CHECK(p.find('\\') == std::string::npos);
    FUZZ_CHECK(p.empty() || (p.front() != '/' && p.back() != '/'));
    // The canonical form is its own canonical form.
    char again[1100];
    FUZZ_CHECK(vnb_vpath(path, again, sizeof again) == 0);
    FUZZ_CHECK(p == again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t choice = data[0];
    auto text = fuzz_text(data + 1, size - 1);
    const bool optional_null = (choice & 0x40) != 0;

    std::vector<char> host(static_cast<size_t>(capacity(choice, 256)));
    std::vector<char> user(static_cast<size_t>(capacity(choice, 129)));
    std::vector<char> password(static_cast<size_t>(capacity(choice, 257)));
    std::vector<char> domain(static_cast<size_t>(capacity(choice, 129)));
    std::vector<char> path(static_cast<size_t>(capacity(choice, 1026)));
    int32_t port = -1;
    int rc = optional_null
                 ? vnsmb1c_url_parse(text.get(), host.data(), static_cast<int32_t>(host.size()), nullptr, nullptr, 0,
                                     nullptr, 0, nullptr, 0, nullptr, 0)
                 : vnsmb1c_url_parse(text.get(), host.data(), static_cast<int32_t>(host.size()), &port, user.data(),
                                     static_cast<int32_t>(user.size()), password.data(),
                                     static_cast<int32_t>(password.size()), domain.data(),
                                     static_cast<int32_t>(domain.size()), path.data(),
                                     static_cast<int32_t>(path.size()));
    FUZZ_CHECK(rc == 0 || rc == -6 || rc == -9);
    if (rc == 0) {
        FUZZ_CHECK(terminated_within(host.data(), host.size()) && host[0] != '\0');
        FUZZ_CHECK(port >= -1 && port <= 65535);
        if (!optional_null) {
            FUZZ_CHECK(terminated_within(user.data(), user.size()));
            FUZZ_CHECK(terminated_within(password.data(), password.size()));
            FUZZ_CHECK(terminated_within(domain.data(), domain.size()));
            FUZZ_CHECK(terminated_within(path.data(), path.size()));
            check_canonical(path.data());
        }
    }

    std::vector<char> canon(static_cast<size_t>(capacity(choice, 1040)));
    rc = vnb_vpath(text.get(), canon.data(), static_cast<int32_t>(canon.size()));
    FUZZ_CHECK(rc == 0 || rc == -6 || rc == -9);
    if (rc == 0)
        check_canonical(canon.data());

    rc = vnb_pat_check(text.get());
    FUZZ_CHECK(rc == 0 || rc == -6);

    std::vector<char> share(static_cast<size_t>(capacity(choice, 81)));
    std::vector<char> rest(static_cast<size_t>(capacity(choice, 1026)));
    rc = optional_null ? vnsmb1c_split_path(text.get(), share.data(), static_cast<int>(share.size()), nullptr, 0)
                       : vnsmb1c_split_path(text.get(), share.data(), static_cast<int>(share.size()), rest.data(),
                                            static_cast<int>(rest.size()));
    if (rc == 0) {
        FUZZ_CHECK(terminated_within(share.data(), share.size()));
        if (!optional_null) {
            FUZZ_CHECK(terminated_within(rest.data(), rest.size()));
            check_canonical(rest.data());
        }
    }
    return 0;
}
