// A text fingerprint of a folder tree, taken before and after a client works
// on a share to show that it changed nothing.
#pragma once

#include <filesystem>
#include <string>

// One line per entry below root, sorted by relative path (bytes):
//   "D <path> mtime=<ns>"
//   "F <path> size=<bytes> mtime=<ns> sha256=<hex of the data extents>"
//   "L <path> -> <target>"
// Files are hashed extent by extent (SEEK_DATA/SEEK_HOLE), so a sparse file
// of many GiB costs only its data; the extent offsets are part of the hash.
// Throws std::filesystem::filesystem_error / std::runtime_error when the tree
// cannot be read.
std::string tree_manifest(const std::filesystem::path &root);
