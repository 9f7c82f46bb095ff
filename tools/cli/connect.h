// From a URL and the options to a logged-on session of the library.
#pragma once

#include <string>

#include "options.h"

// Turns \\host\share\path into smb://host/share/path; other text
// unchanged. A UNC host part holds no "@" (no user, no port): such a text
// gives "", after a message.
std::string url_from_unc(const std::string &text);
// Parses the URL and fills in credentials; 0 or an exit code.
int resolve_target(const std::string &url, const GlobalOptions &opt, Target &out);
// A password for user at host from VNSMB1C_PASSWORD, or asked for on the
// terminal (once per user and host); false when there is none.
bool password_from_elsewhere(const std::string &user, const std::string &host, std::string &password);
// Selects the transport the options ask for, without connecting; 0 or an exit code.
int select_transport(const GlobalOptions &opt);
// Selects the transport and logs on; 0 or an exit code. A session with the
// same server and identity that is still open is used again.
int open_session(const GlobalOptions &opt, const Target &t);
// Both of the above.
int connect_to(const GlobalOptions &opt, const std::string &url, Target &t);
// Logs off the session open_session opened, if any.
void close_session();
bool read_text_file(const std::string &path, std::string &out);
