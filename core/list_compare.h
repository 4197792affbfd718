#pragma once

#include <string_view>

namespace vellumor {

// The file list's column comparison: byte by byte over the shorter text, folding only 'a' to 'z'
// to upper case; the first difference decides (folded byte of a minus that of b), otherwise the
// shorter text sorts first. Bytes above 127 compare by their own value; no locale is used.
int CompareListText(std::string_view a, std::string_view b);

}  // namespace vellumor
