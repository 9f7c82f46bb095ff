// Which host texts the library resolves or connects to.
#pragma once

#include <cstdint>
#include <string_view>

// 0 when host is a host name (letters, digits, '-', '_' and '.', no empty
// label), an IPv4 address in its plain form (four numbers from 0 to 255) or
// an IPv6 address (without brackets). Anything else, a number such as
// "5601" or "127.1" among it (the C library's parser would make some
// address of it), fails with -6: "<prefix>bad host name ..." or
// "<prefix>bad host address ...".
int32_t vnb_check_host(std::string_view host, const char *prefix);
