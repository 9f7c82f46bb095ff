// HTTP Basic authentication for the gateway (off unless asked for): the one
// user and password it admits, read from a file, and the check of a
// request's Authorization header.
#pragma once

#include <string>
#include <string_view>

namespace serve {

struct BasicAuth {
    std::string user;
    std::string password;
};

// The file's text: smbclient's credentials format ("username = NAME" and
// "password = WORD" lines) or one line "NAME:WORD". False when it names no
// user or no password, or the user holds a ':'.
bool parse_auth_file(std::string_view text, BasicAuth &out);

// True when header is "Basic " and the base64 of "user:password" naming
// exactly auth's pair. The pair is compared in time that depends on the
// lengths alone, never on where the texts differ.
bool basic_auth_admits(std::string_view header, const BasicAuth &auth);

// Standard base64 (with padding) decoded; false for anything else.
bool base64_decode(std::string_view text, std::string &out);

}  // namespace serve
