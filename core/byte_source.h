#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vellumor {

// Random access to the content: reads up to size bytes at offset, returns what it read.
using ByteSource = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t size)>;

}  // namespace vellumor
