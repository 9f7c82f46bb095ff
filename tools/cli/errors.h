// Failures in plain words on standard error, and their exit codes.
#pragma once

#include <string>

#include "options.h"

// Prints "vnsmb1c: " and the library's error text; returns the exit code for rc.
int report_failure(int rc);
// The same for a failure while working on t: statuses people meet are put
// in plain words about t's path, share or user, the server's status name
// kept in parentheses.
int report_failure(int rc, const Target &t);
int report_local(const std::string &text);
// smb://host[:port] of t, the host in brackets when it is an IPv6 address;
// never the identity.
std::string server_url(const Target &t);
// "cannot create DEST: <reason>" from errno.
int report_errno(const std::string &what, const std::string &path, int err);
int exit_code_for(int rc);
