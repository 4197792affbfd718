// A small, defensive reader of OLE2 compound files (Word 97 to 2003 documents and their
// relatives): just enough to list the streams of the root storage and read one. Every index is
// checked; every walk along a sector chain or the directory tree is cut at the number of sectors
// or entries the file can hold. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/byte_source.h"

namespace vellumor {

class CompoundFile {
  public:
    CompoundFile(const ByteSource& read, std::uint64_t size) : read_(read), size_(size) {}

    // Reads the header and the directory; false when they are not those of a compound file.
    bool Open();

    bool HasStream(const char* name) const { return FindStream(name) != nullptr; }

    // The first n bytes of a stream of the root storage (n <= 64, one mini sector).
    bool ReadStreamHead(const char* name, unsigned char* out, std::uint32_t n);

    // A whole stream of the root storage, when it is no longer than limit bytes.
    bool ReadStream(const char* name, std::size_t limit, std::string& out);

  private:
    struct Entry {
        std::u16string name;
        int type = 0;  // 1 storage, 2 stream, 5 root
        std::uint32_t left = 0xFFFFFFFF, right = 0xFFFFFFFF, child = 0xFFFFFFFF;
        std::uint32_t start = 0;
        std::uint32_t size = 0;
    };

    std::uint64_t SectorCount() const { return size_ / sectorSize_; }
    bool ReadSector(std::uint32_t s, unsigned char* out);
    bool NextSector(std::uint32_t s, std::uint32_t& next);
    bool Chain(std::uint32_t start, std::vector<std::uint32_t>& out);
    void CollectRootStreams();
    const Entry* FindStream(const char* name) const;

    const ByteSource& read_;
    std::uint64_t size_;
    std::uint32_t sectorSize_ = 512;
    std::uint32_t miniCutoff_ = 4096;
    std::uint32_t firstMiniFat_ = 0xFFFFFFFE;
    std::vector<std::uint32_t> fatSectorList_;
    std::vector<unsigned char> cachedFat_;
    std::uint64_t cachedFatIndex_ = ~std::uint64_t{0};
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> rootChildren_;
};

}  // namespace vellumor
