// Little-endian field writers and a minimal compound file writer, for tests that build Word
// binaries, encrypted packages and VBA projects themselves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vellumor::test {

inline void Put16(std::string& s, std::size_t at, std::uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Append16(std::string& s, std::uint16_t v) {
    s.append(2, '\0');
    Put16(s, s.size() - 2, v);
}
inline void Append32(std::string& s, std::uint32_t v) {
    s.append(4, '\0');
    Put32(s, s.size() - 4, v);
}

// 512-byte sectors and one FAT sector; streams under 4096 bytes go in the mini stream as real
// writers store them. Each storage's children are linked in the order the format compares
// names (shorter first, then without regard to case), all black: readers that search the tree
// find every name.
class CompoundFileBuilder {
  public:
    static constexpr std::uint32_t kRoot = 0;
    static constexpr std::uint32_t kEnd = 0xFFFFFFFE;
    static constexpr std::uint32_t kFree = 0xFFFFFFFF;

    CompoundFileBuilder& Stream(std::u16string name, std::string data,
                                std::uint32_t parent = kRoot) {
        nodes_.push_back({std::move(name), 2, std::move(data), parent});
        return *this;
    }
    // Answers the storage's id, the parent of the streams inside it.
    std::uint32_t Storage(std::u16string name, std::uint32_t parent = kRoot) {
        nodes_.push_back({std::move(name), 1, {}, parent});
        return static_cast<std::uint32_t>(nodes_.size());
    }

    std::string Build() {
        sectors_.assign(1, std::string(512, '\0'));  // sector 0 holds the FAT
        fat_.assign(1, 0xFFFFFFFD);
        std::string mini, miniFat;
        std::vector<std::uint32_t> starts;
        for (const auto& node : nodes_) {
            const std::string& data = node.data;
            if (node.type != 2 || data.size() >= 4096) {
                starts.push_back(node.type == 2 ? AddChain(data) : 0);
                continue;
            }
            std::uint32_t first = static_cast<std::uint32_t>(mini.size() / 64);
            std::uint32_t count = static_cast<std::uint32_t>((data.size() + 63) / 64);
            std::string padded = data;
            padded.resize(count * 64, '\0');
            mini += padded;
            for (std::uint32_t i = 0; i < count; ++i)
                Append32(miniFat, i + 1 < count ? first + i + 1 : kEnd);
            starts.push_back(count ? first : kEnd);
        }
        std::uint32_t miniStart = AddChain(mini);
        std::uint32_t miniFatStart = AddChain(miniFat);

        std::vector<std::string> entries{Entry(u"Root Entry", 5, mini.size(), miniStart)};
        for (std::size_t i = 0; i < nodes_.size(); ++i)
            entries.push_back(
                Entry(nodes_[i].name, nodes_[i].type, nodes_[i].data.size(), starts[i]));
        for (std::uint32_t parent = 0; parent <= nodes_.size(); ++parent) {
            std::vector<std::uint32_t> children;
            for (std::uint32_t i = 0; i < nodes_.size(); ++i)
                if (nodes_[i].parent == parent) children.push_back(i + 1);
            std::stable_sort(children.begin(), children.end(), [&](auto a, auto b) {
                return Key(nodes_[a - 1].name) < Key(nodes_[b - 1].name);
            });
            if (!children.empty()) Put32(entries[parent], 0x4C, children.front());
            for (std::size_t i = 0; i + 1 < children.size(); ++i)
                Put32(entries[children[i]], 0x48, children[i + 1]);
        }
        while (entries.size() % 4) entries.push_back(Entry(u"", 0, 0, 0));
        std::string directory;
        for (const auto& e : entries) directory += e;
        directoryStart_ = AddChain(directory);

        for (std::size_t i = 0; i < fat_.size(); ++i) Put32(sectors_[0], 4 * i, fat_[i]);
        for (std::size_t i = fat_.size(); i < 128; ++i) Put32(sectors_[0], 4 * i, kFree);
        std::string header(512, '\0');
        header.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
        Put16(header, 0x18, 0x3E);
        Put16(header, 0x1A, 3);
        Put16(header, 0x1C, 0xFFFE);
        Put16(header, 0x1E, 9);
        Put16(header, 0x20, 6);
        Put32(header, 0x2C, 1);
        Put32(header, 0x30, directoryStart_);
        Put32(header, 0x38, 4096);
        Put32(header, 0x3C, miniFatStart);
        Put32(header, 0x40, static_cast<std::uint32_t>((miniFat.size() + 511) / 512));
        Put32(header, 0x44, kEnd);
        Put32(header, 0x4C, 0);
        for (int i = 1; i < 109; ++i) Put32(header, 0x4C + 4 * i, kFree);
        std::string file = header;
        for (const auto& s : sectors_) file += s;
        return file;
    }

    // Where the directory went, for tests that damage it.
    std::uint32_t DirectoryStart() const { return directoryStart_; }

  private:
    struct Node {
        std::u16string name;
        int type;  // 1 storage, 2 stream
        std::string data;
        std::uint32_t parent;
    };

    static std::pair<std::size_t, std::u16string> Key(std::u16string name) {
        for (auto& c : name)
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        return {name.size(), name};
    }

    static std::string Entry(const std::u16string& name, int type, std::size_t size,
                             std::uint32_t start) {
        std::string e(128, '\0');
        for (std::size_t i = 0; i < name.size() && i < 31; ++i) Put16(e, 2 * i, name[i]);
        if (type != 0)
            Put16(e, 0x40,
                  static_cast<std::uint16_t>(2 * (std::min<std::size_t>(name.size(), 31) + 1)));
        e[0x42] = static_cast<char>(type);
        e[0x43] = 1;
        Put32(e, 0x44, kFree);
        Put32(e, 0x48, kFree);
        Put32(e, 0x4C, kFree);
        Put32(e, 0x74, start);
        Put32(e, 0x78, static_cast<std::uint32_t>(size));
        return e;
    }

    std::uint32_t AddChain(const std::string& data) {
        if (data.empty()) return kEnd;
        std::uint32_t first = static_cast<std::uint32_t>(sectors_.size());
        std::size_t count = (data.size() + 511) / 512;
        for (std::size_t i = 0; i < count; ++i) {
            std::string sector = data.substr(i * 512, 512);
            sector.resize(512, '\0');
            sectors_.push_back(sector);
            fat_.push_back(i + 1 < count ? static_cast<std::uint32_t>(sectors_.size()) : kEnd);
        }
        return first;
    }

    std::vector<Node> nodes_;
    std::vector<std::string> sectors_;
    std::vector<std::uint32_t> fat_;
    std::uint32_t directoryStart_ = kEnd;
};

}  // namespace vellumor::test
