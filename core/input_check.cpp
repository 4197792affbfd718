#include "core/input_check.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace vellumor {

namespace {

constexpr unsigned char kOle2Magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kMaxRegular = 0xFFFFFFFA;

std::uint32_t U32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

InputVerdict Verdict(InputKind kind, std::string reason = {}) {
    return {kind, std::move(reason)};
}
InputVerdict Refuse(std::string reason) {
    return {InputKind::Refused, std::move(reason)};
}

// A small, defensive reader of OLE2 compound files: just enough to list stream names and read
// the first bytes of one stream. Every index is checked; loops are cut by step limits.
class CompoundFile {
  public:
    CompoundFile(const ByteSource& read, std::uint64_t size) : read_(read), size_(size) {}

    bool Open() {
        unsigned char h[512];
        if (read_(0, h, 512) != 512) return false;
        int shift = U16(h + 0x1E);
        if (shift != 9 && shift != 12) return false;
        sectorSize_ = 1u << shift;
        int miniShift = U16(h + 0x20);
        if (miniShift != 6) return false;
        miniCutoff_ = U32(h + 0x38);
        std::uint32_t fatSectors = U32(h + 0x2C);
        std::uint32_t firstDir = U32(h + 0x30);
        miniFatStart_ = U32(h + 0x3C);
        std::uint32_t difatStart = U32(h + 0x44);
        std::uint32_t difatCount = U32(h + 0x48);
        if (fatSectors > SectorCount() + 1) return false;

        std::vector<std::uint32_t> fatList;
        for (int i = 0; i < 109 && fatList.size() < fatSectors; ++i)
            fatList.push_back(U32(h + 0x4C + 4 * i));
        std::uint32_t next = difatStart;
        std::vector<unsigned char> buf(sectorSize_);
        for (std::uint32_t n = 0; n < difatCount && fatList.size() < fatSectors; ++n) {
            if (!ReadSector(next, buf.data())) return false;
            std::uint32_t per = sectorSize_ / 4 - 1;
            for (std::uint32_t i = 0; i < per && fatList.size() < fatSectors; ++i)
                fatList.push_back(U32(buf.data() + 4 * i));
            next = U32(buf.data() + 4 * per);
        }
        for (auto s : fatList) {
            if (!ReadSector(s, buf.data())) return false;
            for (std::uint32_t i = 0; i < sectorSize_ / 4; ++i)
                fat_.push_back(U32(buf.data() + 4 * i));
        }
        // Directory.
        std::vector<std::uint32_t> chain;
        if (!Chain(firstDir, chain)) return false;
        for (auto s : chain) {
            if (!ReadSector(s, buf.data())) return false;
            for (std::uint32_t off = 0; off + 128 <= sectorSize_; off += 128) {
                const unsigned char* e = buf.data() + off;
                int type = e[0x42];
                if (type == 0) continue;
                Entry entry;
                int nameBytes = std::min<int>(U16(e + 0x40), 64);
                for (int i = 0; i + 1 < nameBytes; i += 2) {
                    std::uint16_t c = U16(e + i);
                    if (c == 0) break;
                    entry.name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
                }
                entry.type = type;
                entry.start = U32(e + 0x74);
                entry.size = U32(e + 0x78);
                if (type == 5 && !haveRoot_) {
                    root_ = entry;
                    haveRoot_ = true;
                }
                entries_.push_back(entry);
            }
        }
        return haveRoot_;
    }

    bool HasStream(const char* name) const {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.type == 2 && e.name == name; });
    }

    // The first n bytes of a stream (n <= 512).
    bool ReadStreamHead(const char* name, unsigned char* out, std::uint32_t n) {
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return e.type == 2 && e.name == name; });
        if (it == entries_.end() || it->size < n) return false;
        std::vector<unsigned char> buf(sectorSize_);
        if (it->size >= miniCutoff_) {
            if (!ReadSector(it->start, buf.data())) return false;
            std::memcpy(out, buf.data(), n);
            return true;
        }
        // In the mini stream: find the regular sector that holds this mini sector.
        std::uint64_t miniOffset = static_cast<std::uint64_t>(it->start) * 64;
        std::vector<std::uint32_t> rootChain;
        if (!Chain(root_.start, rootChain)) return false;
        std::uint64_t index = miniOffset / sectorSize_;
        if (index >= rootChain.size()) return false;
        if (!ReadSector(rootChain[index], buf.data())) return false;
        std::uint32_t within = static_cast<std::uint32_t>(miniOffset % sectorSize_);
        if (within + n > sectorSize_) return false;
        std::memcpy(out, buf.data() + within, n);
        return true;
    }

  private:
    struct Entry {
        std::string name;
        int type = 0;
        std::uint32_t start = 0;
        std::uint32_t size = 0;
    };

    std::uint64_t SectorCount() const { return size_ / sectorSize_; }

    bool ReadSector(std::uint32_t s, unsigned char* out) {
        if (s > kMaxRegular) return false;
        std::uint64_t off = (static_cast<std::uint64_t>(s) + 1) * sectorSize_;
        if (off + sectorSize_ > size_) return false;
        return read_(off, out, sectorSize_) == sectorSize_;
    }

    bool Chain(std::uint32_t start, std::vector<std::uint32_t>& out) {
        std::uint32_t s = start;
        std::size_t limit = fat_.size() + 1;
        while (s != kEndOfChain) {
            if (s >= fat_.size() || out.size() >= limit) return false;
            out.push_back(s);
            s = fat_[s];
        }
        return !out.empty();
    }

    const ByteSource& read_;
    std::uint64_t size_;
    std::uint32_t sectorSize_ = 512;
    std::uint32_t miniCutoff_ = 4096;
    std::uint32_t miniFatStart_ = kEndOfChain;
    std::vector<std::uint32_t> fat_;
    std::vector<Entry> entries_;
    Entry root_;
    bool haveRoot_ = false;
};

InputVerdict CheckOle2(const ByteSource& read, std::uint64_t size) {
    CompoundFile cf(read, size);
    if (!cf.Open()) return Refuse("a damaged compound file that cannot be read as a Word document");
    if (cf.HasStream("EncryptedPackage") || cf.HasStream("EncryptionInfo"))
        return Verdict(InputKind::PasswordProtected);
    if (cf.HasStream("WordDocument")) {
        unsigned char fib[32];
        if (!cf.ReadStreamHead("WordDocument", fib, sizeof fib))
            return Refuse("a damaged Word document whose header cannot be read");
        std::uint16_t ident = U16(fib);
        if (ident != 0xA5EC && ident != 0xA5DC)
            return Refuse("a damaged Word document (unknown header)");
        std::uint16_t flags = U16(fib + 0x0A);
        if (flags & 0x0100) return Verdict(InputKind::PasswordProtected);
        return Verdict(InputKind::WordBinary);
    }
    if (cf.HasStream("Workbook") || cf.HasStream("Book"))
        return Refuse("an Excel workbook, not a Word document");
    if (cf.HasStream("PowerPoint Document"))
        return Refuse("a PowerPoint presentation, not a Word document");
    return Refuse("a compound file without a Word document in it");
}

// Names of the members of a zip archive: from the central directory when the archive is whole,
// else from the local headers at the front (a truncated archive still names its parts).
std::vector<std::string> ZipNames(const ByteSource& read, std::uint64_t size) {
    std::vector<std::string> names;
    std::uint64_t tailSize = std::min<std::uint64_t>(size, 65536 + 22);
    std::vector<unsigned char> tail(tailSize);
    if (read(size - tailSize, tail.data(), tailSize) == tailSize) {
        for (std::size_t i = tailSize >= 22 ? tailSize - 22 + 1 : 0; i-- > 0;) {
            const unsigned char* p = tail.data() + i;
            if (p[0] != 'P' || p[1] != 'K' || p[2] != 5 || p[3] != 6) continue;
            std::uint32_t cdSize = U32(p + 12);
            std::uint32_t cdOffset = U32(p + 16);
            if (cdSize > 64u << 20 || static_cast<std::uint64_t>(cdOffset) + cdSize > size) break;
            std::vector<unsigned char> cd(cdSize);
            if (read(cdOffset, cd.data(), cdSize) != cdSize) break;
            std::size_t pos = 0;
            while (pos + 46 <= cd.size() && names.size() < 100000) {
                const unsigned char* e = cd.data() + pos;
                if (U32(e) != 0x02014b50) break;
                std::size_t nameLen = U16(e + 28), extra = U16(e + 30), comment = U16(e + 32);
                if (pos + 46 + nameLen > cd.size()) break;
                names.emplace_back(reinterpret_cast<const char*>(e + 46), nameLen);
                pos += 46 + nameLen + extra + comment;
            }
            if (!names.empty()) return names;
            break;
        }
    }
    std::uint64_t pos = 0;
    unsigned char h[30];
    while (names.size() < 10000 && read(pos, h, 30) == 30 && U32(h) == 0x04034b50) {
        std::size_t nameLen = U16(h + 26), extra = U16(h + 28);
        std::string name(nameLen, '\0');
        if (read(pos + 30, name.data(), nameLen) != nameLen) break;
        names.push_back(name);
        if (U16(h + 6) & 0x08) break;  // sizes follow the data: cannot skip further
        pos += 30 + nameLen + extra + U32(h + 18);
    }
    return names;
}

InputVerdict CheckZip(const ByteSource& read, std::uint64_t size) {
    auto names = ZipNames(read, size);
    bool word = false, excel = false, powerpoint = false, types = false, odf = false;
    for (const auto& n : names) {
        if (n.rfind("word/", 0) == 0) word = true;
        if (n.rfind("xl/", 0) == 0) excel = true;
        if (n.rfind("ppt/", 0) == 0) powerpoint = true;
        if (n == "[Content_Types].xml") types = true;
        if (n == "mimetype" || n == "content.xml") odf = true;
    }
    if (word) return Verdict(InputKind::WordOoxml);
    if (excel) return Refuse("an Excel workbook, not a Word document");
    if (powerpoint) return Refuse("a PowerPoint presentation, not a Word document");
    if (odf) return Refuse("an OpenDocument file, not a Word document");
    if (types) return Verdict(InputKind::WordOoxml);  // an unusual package: the office decides
    return Refuse("a zip archive, not a Word document");
}

std::string LowerAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool LooksLikeText(const std::string& head) {
    std::size_t controls = 0;
    for (unsigned char c : head) {
        if (c == 0) return false;
        if (c < 32 && c != '\n' && c != '\r' && c != '\t' && c != '\f') ++controls;
    }
    return controls * 100 <= head.size();
}

InputVerdict CheckMarkup(std::string head) {
    std::string lower = LowerAscii(head);
    if (lower.find("<w:worddocument") != std::string::npos ||
        lower.find("schemas.microsoft.com/office/word/2003/wordml") != std::string::npos)
        return Verdict(InputKind::WordXml);
    if (lower.find("<pkg:package") != std::string::npos &&
        lower.find("wordprocessingml") != std::string::npos)
        return Verdict(InputKind::WordXml);
    if (lower.find("<html") != std::string::npos ||
        lower.find("<!doctype html") != std::string::npos)
        return Verdict(InputKind::WordHtml);
    return Refuse("an XML or markup file that is not a Word document");
}

}  // namespace

InputVerdict CheckContent(const ByteSource& read, std::uint64_t size) {
    if (size == 0) return Refuse("an empty file");
    std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(size, 65536)), '\0');
    head.resize(read(0, head.data(), head.size()));
    if (head.empty()) return Refuse("a file that cannot be read");
    auto bytes = reinterpret_cast<const unsigned char*>(head.data());

    if (head.size() >= 8 && std::memcmp(bytes, kOle2Magic, 8) == 0) return CheckOle2(read, size);
    if (head.size() >= 4 && head.compare(0, 4, "PK\x03\x04") == 0) return CheckZip(read, size);
    if (head.size() >= 4 && bytes[0] == 0xDB && bytes[1] == 0xA5) return Verdict(InputKind::Word2);

    std::size_t start = 0;
    if (head.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start < head.size() && (head[start] == ' ' || head[start] == '\t' ||
                                   head[start] == '\r' || head[start] == '\n'))
        ++start;
    std::string body = head.substr(start);
    if (body.rfind("{\\rtf", 0) == 0) return Verdict(InputKind::Rtf);
    if (!body.empty() && body[0] == '<') return CheckMarkup(body);
    std::string lower = LowerAscii(body.substr(0, 4096));
    if (lower.rfind("mime-version:", 0) == 0 &&
        lower.find("multipart/related") != std::string::npos &&
        lower.find("text/html") != std::string::npos)
        return Verdict(InputKind::WordHtml);
    if (head.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return Refuse("UTF-16 text, not a Word document");
    if (LooksLikeText(body)) return Refuse("plain text, not a Word document");
    return Refuse("not a Word document (unrecognised content)");
}

InputVerdict CheckBytes(const std::string& bytes) {
    ByteSource source = [&](std::uint64_t offset, void* buffer, std::size_t size) -> std::size_t {
        if (offset >= bytes.size()) return 0;
        std::size_t n = std::min<std::uint64_t>(size, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, n);
        return n;
    };
    return CheckContent(source, bytes.size());
}

}  // namespace vellumor
