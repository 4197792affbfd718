#include "core/word_pages.h"

#include <cstdlib>
#include <cstring>
#include <istream>
#include <string>

#include "core/compound_file.h"
#include "core/zip_archive.h"

namespace vellumor {

namespace {

// The extended properties part is a few hundred bytes; a property set stream a few kilobytes.
constexpr std::size_t kPartLimit = 1u << 20;
constexpr std::uint32_t kPropertyPageCount = 14;  // PIDSI_PAGECOUNT
constexpr std::uint32_t kPropertyAppName = 18;    // PIDSI_APPNAME
constexpr std::uint32_t kTypeInt32 = 3;           // VT_I4
constexpr std::uint32_t kTypeAnsiString = 30;     // VT_LPSTR

std::uint32_t U32(const std::string& s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsWord(const std::string& application) {
    return application.find("Microsoft") != std::string::npos &&
           application.find("Word") != std::string::npos;
}

// The text of the first element named tag (no attributes expected), trimmed; empty if none.
std::string ElementText(const std::string& xml, const std::string& tag) {
    std::size_t at = 0;
    while ((at = xml.find("<" + tag, at)) != std::string::npos) {
        std::size_t after = at + tag.size() + 1;
        if (after < xml.size() && (xml[after] == '>' || xml[after] == ' ')) break;
        at = after;  // a longer name that starts the same (<PagesX>)
    }
    if (at == std::string::npos) return {};
    std::size_t open = xml.find('>', at);
    if (open == std::string::npos || xml[open - 1] == '/') return {};
    std::size_t close = xml.find('<', open + 1);
    if (close == std::string::npos) return {};
    std::string text = xml.substr(open + 1, close - open - 1);
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

int PositiveNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

int PackagePages(const ByteSource& read, std::uint64_t size) {
    std::string app;
    if (!ReadZipMember(read, size, "docProps/app.xml", kPartLimit, app)) return 0;
    if (!IsWord(ElementText(app, "Application"))) return 0;
    return PositiveNumber(ElementText(app, "Pages"));
}

// The SummaryInformation property set: a header naming its sections, the first of which lists
// (property id, offset) pairs; each value starts with its type.
int BinaryPages(const ByteSource& read, std::uint64_t size) {
    CompoundFile file(read, size);
    std::string set;
    if (!file.Open() || !file.ReadStream("\x05SummaryInformation", kPartLimit, set)) return 0;
    if (set.size() < 48 || U32(set, 24) < 1) return 0;
    const std::size_t section = U32(set, 44);
    if (section > set.size() || set.size() - section < 8) return 0;
    const std::uint32_t count = U32(set, section + 4);
    int pages = 0;
    bool word = false;
    for (std::uint32_t i = 0; i < count && i < 1000; ++i) {
        const std::size_t entry = section + 8 + 8 * std::size_t{i};
        if (entry + 8 > set.size()) return 0;
        const std::uint32_t id = U32(set, entry);
        const std::size_t value = section + U32(set, entry + 4);
        if (value > set.size() || set.size() - value < 8) continue;
        const std::uint32_t type = U32(set, value) & 0xFFFF;
        if (id == kPropertyPageCount && type == kTypeInt32) {
            const auto number = static_cast<std::int32_t>(U32(set, value + 4));
            pages = number > 0 ? number : 0;
        } else if (id == kPropertyAppName && type == kTypeAnsiString) {
            const std::size_t length = U32(set, value + 4);
            if (length <= set.size() - value - 8) word = IsWord(set.substr(value + 8, length));
        }
    }
    return word ? pages : 0;
}

ByteSource StreamSource(std::istream& in, std::uint64_t& size) {
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    size = end < 0 ? 0 : static_cast<std::uint64_t>(end);
    return [&in](std::uint64_t offset, void* buffer, std::size_t bytes) -> std::size_t {
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in) return 0;
        in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(bytes));
        return static_cast<std::size_t>(in.gcount());
    };
}

}  // namespace

int RecordedWordPages(const ByteSource& read, std::uint64_t size) {
    unsigned char magic[8] = {0};
    if (size < 8 || read(0, magic, 8) != 8) return 0;
    if (magic[0] == 'P' && magic[1] == 'K') return PackagePages(read, size);
    static constexpr unsigned char kOle2[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (std::memcmp(magic, kOle2, 8) == 0) return BinaryPages(read, size);
    return 0;
}

int RecordedWordPages(std::istream& in) {
    std::uint64_t size = 0;
    const ByteSource source = StreamSource(in, size);
    return RecordedWordPages(source, size);
}

int RecordedPunctuationCompression(std::istream& in) {
    std::uint64_t size = 0;
    const ByteSource source = StreamSource(in, size);
    std::string settings;
    if (!ReadZipMember(source, size, "word/settings.xml", 16u << 20, settings)) return -1;
    // Documents laid out in the modes of Word before 2013 set their punctuation otherwise:
    // there the office's compression moved as many pages away from Word's as toward them.
    const std::size_t mode = settings.find("\"compatibilityMode\"");
    if (mode == std::string::npos) return -1;
    const std::size_t modeValue = settings.find("val=\"", settings.rfind('<', mode));
    if (modeValue == std::string::npos || modeValue > settings.find('>', mode) ||
        std::atoi(settings.c_str() + modeValue + 5) < 15)
        return -1;
    const std::size_t at = settings.find(":characterSpacingControl ");
    if (at == std::string::npos) return -1;
    const std::size_t value = settings.find("val=\"", at);
    const std::size_t close = settings.find('>', at);
    if (value == std::string::npos || value > close) return -1;
    const std::string kind = settings.substr(value + 5, settings.find('"', value + 5) - value - 5);
    if (kind == "doNotCompress") return 0;
    if (kind == "compressPunctuation") return 1;
    if (kind == "compressPunctuationAndJapaneseKana") return 2;
    return -1;
}

}  // namespace vellumor
