#include "batch/leftovers.h"

namespace vellumor::batch {

namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr std::size_t kRandomDigits = 12;

// A pid written in decimal, as the names are made: no sign, no leading zero, within 32 bits.
std::optional<std::uint32_t> PidIn(std::string_view digits) {
    if (digits.empty() || digits.size() > 10 || (digits[0] == '0' && digits.size() > 1))
        return std::nullopt;
    std::uint64_t pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + static_cast<unsigned>(c - '0');
    }
    if (pid > 0xffffffffull) return std::nullopt;
    return static_cast<std::uint32_t>(pid);
}

bool IsLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string PrivateFolderName(std::string_view prefix, std::uint32_t pid,
                              const std::uint8_t (&random)[6]) {
    std::string name(prefix);
    name += std::to_string(pid);
    name += '-';
    for (std::uint8_t b : random) name += kHex[b >> 4], name += kHex[b & 15];
    return name;
}

std::optional<std::uint32_t> PidOfPrivateFolder(std::string_view name, std::string_view prefix) {
    if (prefix.empty() || name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    name.remove_prefix(prefix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || name.size() - dash - 1 != kRandomDigits)
        return std::nullopt;
    for (char c : name.substr(dash + 1))
        if (!IsLowerHex(c)) return std::nullopt;
    return PidIn(name.substr(0, dash));
}

std::string PartName(std::string_view target, std::uint32_t pid) {
    std::string name(target);
    name += kPartInfix;
    name += std::to_string(pid);
    return name;
}

std::optional<std::uint32_t> PidOfPart(std::string_view name, std::string_view targetName) {
    if (targetName.empty() || name.size() <= targetName.size() + kPartInfix.size() ||
        name.substr(0, targetName.size()) != targetName ||
        name.substr(targetName.size(), kPartInfix.size()) != kPartInfix)
        return std::nullopt;
    return PidIn(name.substr(targetName.size() + kPartInfix.size()));
}

}  // namespace vellumor::batch
