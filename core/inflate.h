// Raw deflate decompression (the method zip archives store most members with), for the small
// parts the core reads from inside a document. Portable; bounded by the caller's limit.
#pragma once

#include <cstddef>
#include <string>

namespace vellumor {

// Inflates a raw deflate stream into out. False when the data is damaged or would inflate to
// more than limit bytes (out then holds what was decoded).
bool Inflate(const unsigned char* data, std::size_t size, std::size_t limit, std::string& out);

}  // namespace vellumor
