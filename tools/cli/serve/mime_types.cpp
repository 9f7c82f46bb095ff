#include "mime_types.h"

#include <string>

namespace serve {

const MimeType &mime_type_for(std::string_view name)
{
    auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot + 1 == name.size() || dot == 0)
        return kUnknownType;
    std::string_view ext = name.substr(dot + 1);
    if (ext.size() > 8)
        return kUnknownType;
    std::string lower(ext);
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (const MimeType &m : kMimeTypes)
        if (m.extension == lower)
            return m;
    return kUnknownType;
}

}  // namespace serve
