#include "core/inflate.h"

#include <cstdint>

namespace vellumor {

namespace {

constexpr int kMaxBits = 15;
constexpr int kLiteralCodes = 288;
constexpr int kDistanceCodes = 30;

class BitReader {
  public:
    BitReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    // The next n bits (n <= 16), least significant first; -1 past the end of the data.
    int Bits(int n) {
        while (count_ < n) {
            if (pos_ >= size_) return -1;
            buffer_ |= static_cast<std::uint32_t>(data_[pos_++]) << count_;
            count_ += 8;
        }
        int value = static_cast<int>(buffer_ & ((1u << n) - 1));
        buffer_ >>= n;
        count_ -= n;
        return value;
    }

    void AlignToByte() {
        buffer_ = 0;
        count_ = 0;
    }

    bool Copy(std::size_t n, std::string& out) {
        if (size_ - pos_ < n) return false;
        out.append(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return true;
    }

  private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::uint32_t buffer_ = 0;
    int count_ = 0;
};

// A canonical Huffman code given by the bit length of each symbol's code.
class Huffman {
  public:
    // False when the lengths over-subscribe the code; an incomplete code is allowed (a single
    // distance code is legal) and fails only when a missing code turns up.
    bool Build(const std::uint8_t* lengths, int symbols) {
        for (auto& c : count_) c = 0;
        for (int s = 0; s < symbols; ++s) ++count_[lengths[s]];
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = (left << 1) - count_[len];
            if (left < 0) return false;
        }
        int offset[kMaxBits + 1] = {0};
        for (int len = 1; len < kMaxBits; ++len) offset[len + 1] = offset[len] + count_[len];
        for (int s = 0; s < symbols; ++s)
            if (lengths[s] != 0) symbol_[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
        return true;
    }

    // The next symbol, or -1 when the data ends or holds a code this one lacks.
    int Decode(BitReader& in) const {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            int bit = in.Bits(1);
            if (bit < 0) return -1;
            code |= bit;
            int count = count_[len];
            if (code - first < count) return symbol_[index + code - first];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

  private:
    std::uint16_t count_[kMaxBits + 1] = {0};
    std::uint16_t symbol_[kLiteralCodes] = {0};
};

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool InflateBlock(BitReader& in, const Huffman& literals, const Huffman& distances,
                  std::size_t limit, std::string& out) {
    for (;;) {
        int symbol = literals.Decode(in);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (out.size() >= limit) return false;
            out.push_back(static_cast<char>(symbol));
            continue;
        }
        if (symbol == 256) return true;
        symbol -= 257;
        if (symbol >= 29) return false;
        int extra = in.Bits(kLengthExtra[symbol]);
        if (extra < 0) return false;
        std::size_t length = kLengthBase[symbol] + static_cast<std::size_t>(extra);
        int code = distances.Decode(in);
        if (code < 0 || code >= kDistanceCodes) return false;
        extra = in.Bits(kDistanceExtra[code]);
        if (extra < 0) return false;
        std::size_t distance = kDistanceBase[code] + static_cast<std::size_t>(extra);
        if (distance > out.size() || out.size() + length > limit) return false;
        // Byte by byte: a copy may overlap what it writes (distance < length).
        for (std::size_t from = out.size() - distance; length-- > 0; ++from)
            out.push_back(out[from]);
    }
}

bool FixedCodes(Huffman& literals, Huffman& distances) {
    std::uint8_t lengths[kLiteralCodes];
    for (int s = 0; s < kLiteralCodes; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    if (!literals.Build(lengths, kLiteralCodes)) return false;
    for (int s = 0; s < kDistanceCodes; ++s) lengths[s] = 5;
    return distances.Build(lengths, kDistanceCodes);
}

bool DynamicCodes(BitReader& in, Huffman& literals, Huffman& distances) {
    static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                11, 4,  12, 3, 13, 2, 14, 1, 15};
    int literalCount = in.Bits(5), distanceCount = in.Bits(5), codeCount = in.Bits(4);
    if (literalCount < 0 || distanceCount < 0 || codeCount < 0) return false;
    literalCount += 257;
    distanceCount += 1;
    codeCount += 4;
    if (literalCount > 286 || distanceCount > kDistanceCodes) return false;
    std::uint8_t lengths[kLiteralCodes + kDistanceCodes] = {0};
    for (int i = 0; i < codeCount; ++i) {
        int len = in.Bits(3);
        if (len < 0) return false;
        lengths[kOrder[i]] = static_cast<std::uint8_t>(len);
    }
    Huffman lengthCode;
    if (!lengthCode.Build(lengths, 19)) return false;
    int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        int symbol = lengthCode.Decode(in);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        int repeat, value = 0;
        if (symbol == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = in.Bits(2);
            if (repeat >= 0) repeat += 3;
        } else if (symbol == 17) {
            repeat = in.Bits(3);
            if (repeat >= 0) repeat += 3;
        } else {
            repeat = in.Bits(7);
            if (repeat >= 0) repeat += 11;
        }
        if (repeat < 0 || i + repeat > total) return false;
        while (repeat-- > 0) lengths[i++] = static_cast<std::uint8_t>(value);
    }
    if (lengths[256] == 0) return false;  // no end of block: the data cannot end
    return literals.Build(lengths, literalCount) &&
           distances.Build(lengths + literalCount, distanceCount);
}

}  // namespace

bool Inflate(const unsigned char* data, std::size_t size, std::size_t limit, std::string& out) {
    out.clear();
    BitReader in(data, size);
    for (;;) {
        int last = in.Bits(1), type = in.Bits(2);
        if (last < 0 || type < 0) return false;
        if (type == 0) {
            in.AlignToByte();
            int low = in.Bits(16), check = in.Bits(16);
            if (low < 0 || check < 0 || (low ^ 0xFFFF) != check) return false;
            if (out.size() + static_cast<std::size_t>(low) > limit) return false;
            if (!in.Copy(static_cast<std::size_t>(low), out)) return false;
        } else if (type == 1 || type == 2) {
            Huffman literals, distances;
            if (!(type == 1 ? FixedCodes(literals, distances)
                            : DynamicCodes(in, literals, distances)))
                return false;
            if (!InflateBlock(in, literals, distances, limit, out)) return false;
        } else {
            return false;
        }
        if (last) return true;
    }
}

}  // namespace vellumor
