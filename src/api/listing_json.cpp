// The JSON forms of a listing the C interface and the host tables hand out:
// {"items":[{"name","path","folder","size","mtime_ms","hidden"},...]}.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api/session_ops.h"

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void write_item(Writer &w, const DirEntry &e)
{
    w.StartObject();
    w.Key("name");
    w.String(e.name.c_str(), static_cast<rapidjson::SizeType>(e.name.size()));
    w.Key("path");
    w.String(e.path.c_str(), static_cast<rapidjson::SizeType>(e.path.size()));
    w.Key("folder");
    w.Bool(e.folder);
    w.Key("size");
    w.Int64(e.size);
    w.Key("mtime_ms");
    w.Int64(e.mtime_ms);
    w.Key("hidden");
    w.Bool(e.hidden);
    w.EndObject();
}

}  // namespace

std::string vnb_item_json(const DirEntry &e)
{
    rapidjson::StringBuffer out;
    Writer w(out);
    write_item(w, e);
    return std::string(out.GetString(), out.GetSize());
}

std::string vnb_listing_json(const Listing &l)
{
    rapidjson::StringBuffer out;
    Writer w(out);
    w.StartObject();
    w.Key("items");
    w.StartArray();
    for (const DirEntry &e : l.items)
        write_item(w, e);
    w.EndArray();
    w.EndObject();
    return std::string(out.GetString(), out.GetSize());
}
