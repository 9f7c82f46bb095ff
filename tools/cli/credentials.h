// Identities from -U, credentials files, and keeping passwords out of ps.
#pragma once

#include <string>

#include "options.h"

// -U's value: [DOMAIN\ or DOMAIN/]USER[%PASSWORD], as smbclient takes it.
void split_user_option(const std::string &value, GlobalOptions &opt);
// Fills the identity fields -U, -P and -W left empty from a credentials
// file in smbclient's form ("username = ...", "password = ...",
// "domain = ..."). 0, or an exit code after a message.
int read_credentials_file(const std::string &path, GlobalOptions &opt);
// Wipes the passwords from the process's own arguments (what ps shows):
// the values of -P and of -U's "%...", the password of a URL, a settings
// JSON's "Password".
void hide_passwords(int argc, char **argv);
