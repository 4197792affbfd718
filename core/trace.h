// A small log of what went wrong where the program shows no words for it (a folder it could not
// make, a failed load behind the window's one box, a temporary file it could not remove), so a
// user's report can say what happened. Off until a front end names its file; one line a call,
// stamped with the time. The file is kept small: past its size it is moved aside once (the one
// before that goes) and begun anew.
#pragma once

#include <cstdint>
#include <string>

namespace vellumor {

// Where the lines go from now on; empty turns the log off. Paths are UTF-8.
void SetTraceFile(const std::string& path, std::uintmax_t maxBytes = 256 * 1024);
std::string TraceFile();
// Appends one line; newlines in what become blanks. Never throws, from any thread.
void Trace(const std::string& what);

}  // namespace vellumor
