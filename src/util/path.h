// The one gate for caller paths and search patterns.
#pragma once

#include <cstdint>

// Canonical form of a caller path: components joined by "/", no leading,
// trailing or doubled separator. 0, or -6/-9 with the error text set.
int32_t vnb_vpath(const char *path, char *out, int32_t size);
// A search pattern is one leaf name, wildcards allowed. 0 or -6.
int32_t vnb_pat_check(const char *pattern);
