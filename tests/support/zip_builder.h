// A zip archive with a central directory, built member by member, for tests that read packages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/compound_file_builder.h"

namespace vellumor::test {

struct ZipMember {
    std::string name;
    std::string data;  // as stored
    std::uint16_t method = 0;
    std::size_t unpacked = std::string::npos;  // defaults to data's size
};

// As packages are written: local headers, then the central directory.
inline std::string ZipWithDirectory(const std::vector<ZipMember>& members) {
    std::string zip, central;
    for (const auto& m : members) {
        const std::uint32_t unpacked = static_cast<std::uint32_t>(
            m.unpacked == std::string::npos ? m.data.size() : m.unpacked);
        const std::uint32_t offset = static_cast<std::uint32_t>(zip.size());
        std::string local(30, '\0');
        Put32(local, 0, 0x04034b50);
        Put16(local, 8, m.method);
        Put32(local, 18, static_cast<std::uint32_t>(m.data.size()));
        Put32(local, 22, unpacked);
        Put16(local, 26, static_cast<std::uint16_t>(m.name.size()));
        zip += local + m.name + m.data;
        std::string entry(46, '\0');
        Put32(entry, 0, 0x02014b50);
        Put16(entry, 10, m.method);
        Put32(entry, 20, static_cast<std::uint32_t>(m.data.size()));
        Put32(entry, 24, unpacked);
        Put16(entry, 28, static_cast<std::uint16_t>(m.name.size()));
        Put32(entry, 42, offset);
        central += entry + m.name;
    }
    std::string end(22, '\0');
    Put32(end, 0, 0x06054b50);
    Put16(end, 8, static_cast<std::uint16_t>(members.size()));
    Put16(end, 10, static_cast<std::uint16_t>(members.size()));
    Put32(end, 12, static_cast<std::uint32_t>(central.size()));
    Put32(end, 16, static_cast<std::uint32_t>(zip.size()));
    return zip + central + end;
}

}  // namespace vellumor::test
