#include "core/compound_file.h"

#include <algorithm>
#include <cstring>

namespace vellumor {

namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kMaxRegular = 0xFFFFFFFA;
constexpr std::uint32_t kMiniSector = 64;

std::uint32_t U32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Compound file names compare without regard to case. Only ASCII letters are folded: every
// name looked for is ASCII, and a non-ASCII unit must never fold onto one of them. A name may
// start with a control character (the property set streams begin with U+0005).
bool SameName(const std::u16string& name, const char* wanted) {
    std::size_t i = 0;
    for (; wanted[i] != '\0'; ++i) {
        if (i >= name.size()) return false;
        char16_t c = name[i];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        char w = wanted[i];
        if (w >= 'a' && w <= 'z') w = static_cast<char>(w - 'a' + 'A');
        if (c != static_cast<unsigned char>(w)) return false;
    }
    return i == name.size();
}

}  // namespace

bool CompoundFile::Open() {
    unsigned char h[512];
    if (read_(0, h, 512) != 512) return false;
    int shift = U16(h + 0x1E);
    if (shift != 9 && shift != 12) return false;
    sectorSize_ = 1u << shift;
    if (U16(h + 0x20) != 6) return false;  // mini sectors are always 64 bytes
    miniCutoff_ = U32(h + 0x38);
    firstMiniFat_ = U32(h + 0x3C);
    std::uint64_t fatSectors = std::min<std::uint64_t>(U32(h + 0x2C), SectorCount() + 1);
    std::uint32_t firstDir = U32(h + 0x30);
    std::uint32_t difatNext = U32(h + 0x44);
    std::uint32_t difatCount = U32(h + 0x48);

    for (int i = 0; i < 109 && fatSectorList_.size() < fatSectors; ++i)
        fatSectorList_.push_back(U32(h + 0x4C + 4 * i));
    std::vector<unsigned char> buf(sectorSize_);
    const std::uint32_t perDifat = sectorSize_ / 4 - 1;
    for (std::uint32_t n = 0; n < difatCount && fatSectorList_.size() < fatSectors; ++n) {
        if (!ReadSector(difatNext, buf.data())) return false;
        for (std::uint32_t i = 0; i < perDifat && fatSectorList_.size() < fatSectors; ++i)
            fatSectorList_.push_back(U32(buf.data() + 4 * i));
        difatNext = U32(buf.data() + 4 * perDifat);
    }

    std::vector<std::uint32_t> dirChain;
    if (!Chain(firstDir, dirChain)) return false;
    for (auto s : dirChain) {
        if (!ReadSector(s, buf.data())) return false;
        for (std::uint32_t off = 0; off + 128 <= sectorSize_; off += 128) {
            const unsigned char* e = buf.data() + off;
            Entry entry;
            int nameBytes = std::min<int>(U16(e + 0x40), 64);
            for (int i = 0; i + 1 < nameBytes; i += 2) {
                char16_t c = U16(e + i);
                if (c == 0) break;
                entry.name.push_back(c);
            }
            entry.type = e[0x42];
            entry.left = U32(e + 0x44);
            entry.right = U32(e + 0x48);
            entry.child = U32(e + 0x4C);
            entry.start = U32(e + 0x74);
            entry.size = U32(e + 0x78);
            entries_.push_back(std::move(entry));
        }
    }
    if (entries_.empty() || entries_[0].type != 5) return false;  // entry 0 is the root
    CollectRootStreams();
    return true;
}

bool CompoundFile::ReadStreamHead(const char* name, unsigned char* out, std::uint32_t n) {
    const Entry* stream = FindStream(name);
    if (!stream || n > kMiniSector || stream->size < n) return false;
    std::vector<unsigned char> buf(sectorSize_);
    if (stream->size >= miniCutoff_) {
        if (!ReadSector(stream->start, buf.data())) return false;
        std::memcpy(out, buf.data(), n);
        return true;
    }
    // In the mini stream, which is the root entry's chain of regular sectors: find the
    // sector that holds this mini sector (64 divides the sector size, so it is whole).
    std::uint64_t miniOffset = static_cast<std::uint64_t>(stream->start) * kMiniSector;
    std::uint64_t index = miniOffset / sectorSize_;
    if (index > SectorCount()) return false;
    std::uint32_t sector = entries_[0].start;
    for (std::uint64_t i = 0; i < index; ++i)
        if (!NextSector(sector, sector)) return false;
    if (!ReadSector(sector, buf.data())) return false;
    std::memcpy(out, buf.data() + miniOffset % sectorSize_, n);
    return true;
}

bool CompoundFile::ReadStream(const char* name, std::size_t limit, std::string& out) {
    out.clear();
    const Entry* stream = FindStream(name);
    if (!stream || stream->size > limit || stream->size > size_) return false;
    std::vector<unsigned char> buf(sectorSize_);
    if (stream->size >= miniCutoff_) {
        std::vector<std::uint32_t> chain;
        if (!Chain(stream->start, chain)) return false;
        for (auto s : chain) {
            if (out.size() >= stream->size) break;
            if (!ReadSector(s, buf.data())) return false;
            out.append(reinterpret_cast<const char*>(buf.data()),
                       std::min<std::size_t>(sectorSize_, stream->size - out.size()));
        }
        return out.size() == stream->size;
    }
    // A small stream lives in the mini stream (the root's chain of regular sectors), in mini
    // sectors chained through the mini FAT, itself a chain of regular sectors.
    std::vector<std::uint32_t> miniStream, miniFat;
    if (!Chain(entries_[0].start, miniStream) || !Chain(firstMiniFat_, miniFat)) return false;
    const std::uint32_t perSector = sectorSize_ / 4;
    const std::uint32_t miniPerSector = sectorSize_ / kMiniSector;
    std::vector<unsigned char> fat(sectorSize_);
    std::uint64_t fatLoaded = ~std::uint64_t{0};
    std::uint32_t mini = stream->start;
    for (std::uint64_t steps = 0; out.size() < stream->size; ++steps) {
        if (steps > miniStream.size() * miniPerSector) return false;  // a loop in the chain
        std::uint64_t sectorIndex = mini / miniPerSector;
        if (sectorIndex >= miniStream.size()) return false;
        if (!ReadSector(miniStream[sectorIndex], buf.data())) return false;
        const unsigned char* at = buf.data() + (mini % miniPerSector) * kMiniSector;
        out.append(reinterpret_cast<const char*>(at),
                   std::min<std::size_t>(kMiniSector, stream->size - out.size()));
        if (out.size() >= stream->size) break;
        std::uint64_t fatIndex = mini / perSector;
        if (fatIndex >= miniFat.size()) return false;
        if (fatIndex != fatLoaded) {
            if (!ReadSector(miniFat[fatIndex], fat.data())) return false;
            fatLoaded = fatIndex;
        }
        mini = U32(fat.data() + 4 * (mini % perSector));
    }
    return true;
}

bool CompoundFile::ReadSector(std::uint32_t s, unsigned char* out) {
    if (s > kMaxRegular) return false;
    std::uint64_t off = (static_cast<std::uint64_t>(s) + 1) * sectorSize_;
    if (off + sectorSize_ > size_) return false;
    return read_(off, out, sectorSize_) == sectorSize_;
}

// The FAT is read a sector at a time as the chains need it, so memory does not follow the
// sector count the header claims.
bool CompoundFile::NextSector(std::uint32_t s, std::uint32_t& next) {
    const std::uint32_t perSector = sectorSize_ / 4;
    std::uint64_t index = s / perSector;
    if (index >= fatSectorList_.size()) return false;
    if (cachedFatIndex_ != index) {
        cachedFat_.resize(sectorSize_);
        if (!ReadSector(fatSectorList_[index], cachedFat_.data())) return false;
        cachedFatIndex_ = index;
    }
    next = U32(cachedFat_.data() + 4 * (s % perSector));
    return true;
}

bool CompoundFile::Chain(std::uint32_t start, std::vector<std::uint32_t>& out) {
    std::uint32_t s = start;
    const std::uint64_t limit = SectorCount() + 1;
    while (s != kEndOfChain) {
        if (out.size() >= limit) return false;
        out.push_back(s);
        if (!NextSector(s, s)) return false;
    }
    return !out.empty();
}

// The root's children form a binary tree through left/right links; a broken link is not
// followed, and no entry is visited twice.
void CompoundFile::CollectRootStreams() {
    std::vector<bool> seen(entries_.size(), false);
    std::vector<std::uint32_t> pending{entries_[0].child};
    seen[0] = true;
    while (!pending.empty()) {
        std::uint32_t id = pending.back();
        pending.pop_back();
        if (id >= entries_.size() || seen[id]) continue;
        seen[id] = true;
        const Entry& e = entries_[id];
        if (e.type != 1 && e.type != 2) continue;
        rootChildren_.push_back(id);
        pending.push_back(e.left);
        pending.push_back(e.right);
    }
}

const CompoundFile::Entry* CompoundFile::FindStream(const char* name) const {
    for (auto id : rootChildren_)
        if (entries_[id].type == 2 && SameName(entries_[id].name, name)) return &entries_[id];
    return nullptr;
}

}  // namespace vellumor
