#include "adapters/locator.h"

#include <cstdio>

void vnb_smb1_locator(char *out, size_t capacity, std::string_view host, int port, std::string_view tail)
{
    if (out == nullptr || capacity == 0)
        return;
    bool brackets = host.find(':') != std::string_view::npos && host.front() != '[';
    char port_text[16] = "";
    if (port != 0)
        std::snprintf(port_text, sizeof port_text, ":%d", port);
    std::snprintf(out, capacity, "smb1://%s%.*s%s%s/%.*s", brackets ? "[" : "", static_cast<int>(host.size()),
                  host.data(), brackets ? "]" : "", port_text, static_cast<int>(tail.size()), tail.data());
}
