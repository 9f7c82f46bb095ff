// Content types by file extension, for the files the gateway serves.
#pragma once

#include <string_view>

namespace serve {

enum class MediaKind { video, audio, image, subtitle, playlist, text, other };

struct MimeType {
    std::string_view extension;  // lower case, without the dot
    std::string_view type;
    MediaKind kind;
};

// Lower-case extensions and their types. Markup that a browser would run
// (html, svg, xml) is left out on purpose: such files go out as
// application/octet-stream and are never rendered in the gateway's origin.
inline constexpr MimeType kMimeTypes[] = {
    {"mkv", "video/x-matroska", MediaKind::video},
    {"mk3d", "video/x-matroska", MediaKind::video},
    {"mp4", "video/mp4", MediaKind::video},
    {"m4v", "video/x-m4v", MediaKind::video},
    {"mov", "video/quicktime", MediaKind::video},
    {"avi", "video/x-msvideo", MediaKind::video},
    {"webm", "video/webm", MediaKind::video},
    {"ts", "video/mp2t", MediaKind::video},
    {"m2ts", "video/mp2t", MediaKind::video},
    {"mts", "video/mp2t", MediaKind::video},
    {"mpg", "video/mpeg", MediaKind::video},
    {"mpeg", "video/mpeg", MediaKind::video},
    {"vob", "video/mpeg", MediaKind::video},
    {"wmv", "video/x-ms-wmv", MediaKind::video},
    {"flv", "video/x-flv", MediaKind::video},
    {"ogv", "video/ogg", MediaKind::video},
    {"3gp", "video/3gpp", MediaKind::video},
    {"mp3", "audio/mpeg", MediaKind::audio},
    {"flac", "audio/flac", MediaKind::audio},
    {"ogg", "audio/ogg", MediaKind::audio},
    {"oga", "audio/ogg", MediaKind::audio},
    {"opus", "audio/ogg", MediaKind::audio},
    {"m4a", "audio/mp4", MediaKind::audio},
    {"aac", "audio/aac", MediaKind::audio},
    {"wav", "audio/wav", MediaKind::audio},
    {"wma", "audio/x-ms-wma", MediaKind::audio},
    {"ape", "audio/x-ape", MediaKind::audio},
    {"jpg", "image/jpeg", MediaKind::image},
    {"jpeg", "image/jpeg", MediaKind::image},
    {"png", "image/png", MediaKind::image},
    {"gif", "image/gif", MediaKind::image},
    {"webp", "image/webp", MediaKind::image},
    {"bmp", "image/bmp", MediaKind::image},
    {"srt", "application/x-subrip", MediaKind::subtitle},
    {"vtt", "text/vtt", MediaKind::subtitle},
    {"ass", "text/x-ssa", MediaKind::subtitle},
    {"ssa", "text/x-ssa", MediaKind::subtitle},
    {"sub", "text/plain", MediaKind::subtitle},
    {"idx", "text/plain", MediaKind::subtitle},
    {"m3u", "audio/x-mpegurl", MediaKind::playlist},
    {"m3u8", "application/vnd.apple.mpegurl", MediaKind::playlist},
    {"pls", "audio/x-scpls", MediaKind::playlist},
    {"txt", "text/plain; charset=utf-8", MediaKind::text},
    {"nfo", "text/plain; charset=utf-8", MediaKind::text},
};

inline constexpr MimeType kUnknownType{"", "application/octet-stream", MediaKind::other};

// The entry for the name's extension (compared without regard to ASCII
// case); kUnknownType when there is none or it is not in the table.
const MimeType &mime_type_for(std::string_view name);

// Video and audio: what a playlist lists.
constexpr bool is_playable(MediaKind kind)
{
    return kind == MediaKind::video || kind == MediaKind::audio;
}

}  // namespace serve
