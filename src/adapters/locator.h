// The "smb1://" locators the host tables hand out for files.
#pragma once

#include <cstddef>
#include <string_view>

// Writes "smb1://" host [":" port] "/" tail into out (cut to fit, always
// terminated); the port is left out when it is 0, and a host that holds a
// colon, an IPv6 literal, is put in brackets.
void vnb_smb1_locator(char *out, size_t capacity, std::string_view host, int port, std::string_view tail);
