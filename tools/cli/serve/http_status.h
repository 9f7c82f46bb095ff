// The HTTP answer to a failure of the library.
#pragma once

#include <string_view>

namespace serve {

// 404 not found, 403 refused, 504 when the server did not answer in time,
// 502 when it cannot be reached or the session is gone, 400 for a name the
// server refuses, 503 when every file slot is in use, 500 for the rest.
int http_status_for(int result_code, std::string_view error_text);
// "Not Found" and the like for the statuses the gateway sends.
std::string_view reason_phrase(int status);

}  // namespace serve
