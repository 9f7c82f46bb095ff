// The small fake tree the server targets and the seed recorder share: two
// shares, a user, guest access, files with and without text, a refused entry
// and a generated folder that needs two search pages.
#pragma once

inline constexpr const char *kFuzzTree = R"({
  "users": [{"name": "alice", "pass": "pw"}],
  "guest": true,
  "shares": [
    {"name": "Media", "root": [
      {"name": "Movies", "mtime": 1500000000, "children": [
        {"name": "a.mkv", "size": 100000, "mtime": 1500000001},
        {"name": "notes.txt", "text": "hello"},
        {"name": "secret", "deny": true, "children": []}
      ]},
      {"name": "Many", "generate": 60, "prefix": "f"}
    ]},
    {"name": "Music", "root": [{"name": "song.mp3", "text": "la la la"}]}
  ]
})";
