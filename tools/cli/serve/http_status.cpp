#include "http_status.h"

#include "vnsmb1c.h"

namespace serve {

int http_status_for(int result_code, std::string_view error_text)
{
    switch (result_code) {
    case VNSMB1C_ENOTFOUND:
        return 404;
    case VNSMB1C_EAUTH:
        return 403;
    case VNSMB1C_ENET:
        return error_text.find("timed out") != std::string_view::npos ? 504 : 502;
    case VNSMB1C_ENOSESSION:
        return 502;
    case VNSMB1C_EINVAL:
        return 400;
    case VNSMB1C_ELIMIT:  // every file slot in use: the client may come back
    case VNSMB1C_ENOMEM:
        return 503;
    default:
        return 500;
    }
}

std::string_view reason_phrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 414:
        return "URI Too Long";
    case 416:
        return "Range Not Satisfiable";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    case 505:
        return "HTTP Version Not Supported";
    case 507:
        return "Insufficient Storage";
    default:
        return "Internal Server Error";
    }
}

}  // namespace serve
