// Every absolute path the daemon and its platform touch goes through ozr_path(),
// so that tests and demos can move the whole file system under $OZR_ROOT.
#pragma once

#include <string>

// "/configs/easymesh/x.json" -> "$OZR_ROOT/configs/easymesh/x.json" when OZR_ROOT is set
// and not empty; the path unchanged otherwise. Relative paths are returned unchanged.
std::string ozr_path(const std::string& absolute);

// Creates DIR and its missing parents with MODE. True when the folder exists afterwards.
bool ozr_make_dirs(const std::string& dir, unsigned mode = 0775);

// Replaces PATH atomically with CONTENT: a temporary file in the same folder, written,
// fsync'ed, renamed over PATH, then the folder fsync'ed. On failure PATH is untouched,
// the temporary file removed, and ERR (when given) holds the errno of the failing step.
bool ozr_write_file_atomic(const std::string& path, const std::string& content,
                           unsigned mode = 0644, int* err = nullptr);

// Reads a whole file of at most MAX_BYTES. False when it cannot be read or is larger.
bool ozr_read_file(const std::string& path, std::string& out, size_t max_bytes = 1 << 20);
