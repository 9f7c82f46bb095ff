// The order people expect of file names: numbers by their value ("Episode 9"
// before "Episode 10"), letters without regard to case or accents ("é" with
// "e", "Æ" as "ae"), and a fixed order among names that differ in nothing
// else. Shared by the tool's listings and the gateway's pages.
#pragma once

#include <string>
#include <string_view>

namespace name_order {

// A byte string that sorts (with std::string's <) the way the names sort,
// up to names that differ only in case, accents or leading zeros. Worth
// making once per name when sorting many.
std::string sort_key(std::string_view name);

// <0, 0 or >0: a before, the same as, or after b. Equal sort keys are told
// apart by the names' bytes, so that only equal names compare equal.
int compare(std::string_view a, std::string_view b);

}  // namespace name_order
