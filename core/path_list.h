// Lists of paths as other tools write them: one path a line (find, a database export, a
// spreadsheet saved as text), or each path ended by a NUL byte (find -print0), the one form
// that holds every name a file system allows, newlines included.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vellumor {

enum class PathListFormat { Lines, NulSeparated };

// Appends the paths of a list's text to paths, in the list's order. Empty entries are left out
// (the blank lines of a text list, the empty last line after its final newline). Lines may end
// in "\r\n", and a text list may begin with a UTF-8 byte order mark; both are left out too.
// False, with error set and paths untouched, when a text list holds a NUL byte: a NUL-separated
// list read one path a line would make one path of many.
bool SplitPathList(std::string_view text, PathListFormat format, std::vector<std::string>& paths,
                   std::string& error);

// The same for the whole of a stream; false with error set also when reading breaks off.
bool ReadPathList(std::istream& in, PathListFormat format, std::vector<std::string>& paths,
                  std::string& error);

}  // namespace vellumor
