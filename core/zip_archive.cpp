#include "core/zip_archive.h"

#include <algorithm>

#include "core/inflate.h"
#include "core/text.h"

namespace vellumor {

namespace {

std::uint32_t U32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t kCentralEntry = 0x02014b50;
constexpr std::uint32_t kLocalHeader = 0x04034b50;

// The central directory of a whole archive, empty when there is none to read.
std::vector<unsigned char> CentralDirectory(const ByteSource& read, std::uint64_t size) {
    std::uint64_t tailSize = std::min<std::uint64_t>(size, 65536 + 22);
    std::vector<unsigned char> tail(tailSize);
    if (read(size - tailSize, tail.data(), tailSize) != tailSize) return {};
    for (std::size_t i = tailSize >= 22 ? tailSize - 22 + 1 : 0; i-- > 0;) {
        const unsigned char* p = tail.data() + i;
        if (p[0] != 'P' || p[1] != 'K' || p[2] != 5 || p[3] != 6) continue;
        std::uint32_t cdSize = U32(p + 12);
        std::uint32_t cdOffset = U32(p + 16);
        if (cdSize > 64u << 20 || static_cast<std::uint64_t>(cdOffset) + cdSize > size) return {};
        std::vector<unsigned char> cd(cdSize);
        if (read(cdOffset, cd.data(), cdSize) != cdSize) return {};
        return cd;
    }
    return {};
}

}  // namespace

std::vector<std::string> ZipNames(const ByteSource& read, std::uint64_t size) {
    std::vector<std::string> names;
    const std::vector<unsigned char> cd = CentralDirectory(read, size);
    std::size_t pos = 0;
    while (pos + 46 <= cd.size() && names.size() < 100000) {
        const unsigned char* e = cd.data() + pos;
        if (U32(e) != kCentralEntry) break;
        std::size_t nameLen = U16(e + 28), extra = U16(e + 30), comment = U16(e + 32);
        if (pos + 46 + nameLen > cd.size()) break;
        names.emplace_back(reinterpret_cast<const char*>(e + 46), nameLen);
        pos += 46 + nameLen + extra + comment;
    }
    if (!names.empty()) return names;
    std::uint64_t at = 0;
    unsigned char h[30];
    while (names.size() < 10000 && read(at, h, 30) == 30 && U32(h) == kLocalHeader) {
        std::size_t nameLen = U16(h + 26), extra = U16(h + 28);
        std::string name(nameLen, '\0');
        if (read(at + 30, name.data(), nameLen) != nameLen) break;
        names.push_back(name);
        if (U16(h + 6) & 0x08) break;  // sizes follow the data: cannot skip further
        at += 30 + nameLen + extra + U32(h + 18);
    }
    return names;
}

bool ReadZipMember(const ByteSource& read, std::uint64_t size, const std::string& name,
                   std::size_t limit, std::string& out) {
    out.clear();
    const std::vector<unsigned char> cd = CentralDirectory(read, size);
    const std::string wanted = LowerAscii(name);
    std::size_t pos = 0;
    while (pos + 46 <= cd.size()) {
        const unsigned char* e = cd.data() + pos;
        if (U32(e) != kCentralEntry) return false;
        std::size_t nameLen = U16(e + 28), extra = U16(e + 30), comment = U16(e + 32);
        if (pos + 46 + nameLen > cd.size()) return false;
        std::string entryName(reinterpret_cast<const char*>(e + 46), nameLen);
        pos += 46 + nameLen + extra + comment;
        if (LowerAscii(entryName) != wanted) continue;
        const std::uint16_t method = U16(e + 10);
        const std::uint32_t packed = U32(e + 20), unpacked = U32(e + 24), local = U32(e + 42);
        if (unpacked > limit || (method != 0 && method != 8)) return false;
        unsigned char h[30];
        if (read(local, h, 30) != 30 || U32(h) != kLocalHeader) return false;
        const std::uint64_t data = std::uint64_t{local} + 30 + U16(h + 26) + U16(h + 28);
        if (data > size || packed > size - data) return false;
        std::vector<unsigned char> bytes(packed);
        if (read(data, bytes.data(), packed) != packed) return false;
        if (method == 0) {
            if (packed != unpacked) return false;
            out.assign(bytes.begin(), bytes.end());
            return true;
        }
        return Inflate(bytes.data(), bytes.size(), limit, out) && out.size() == unpacked;
    }
    return false;
}

}  // namespace vellumor
