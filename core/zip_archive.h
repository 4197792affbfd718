// Just enough of zip archives (the packages of .docx documents) to name their members and read
// a small one. Portable; every size and offset is checked against the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/byte_source.h"

namespace vellumor {

// Names of the members of a zip archive: from the central directory when the archive is whole,
// else from the local headers at the front (a truncated archive still names its parts).
std::vector<std::string> ZipNames(const ByteSource& read, std::uint64_t size);

// The content of one member (its name compared without regard to ASCII case, as package part
// names are), stored or deflated, when it unpacks to at most limit bytes. False otherwise.
bool ReadZipMember(const ByteSource& read, std::uint64_t size, const std::string& name,
                   std::size_t limit, std::string& out);

}  // namespace vellumor
