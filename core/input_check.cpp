#include "core/input_check.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <optional>
#include <vector>

#include "core/compound_file.h"
#include "core/text.h"
#include "core/zip_archive.h"

namespace vellumor {

namespace {

constexpr unsigned char kOle2Magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeadSize = 65536;
// Plain text is checked this far; a binary file does not hide behind a page of text for long.
constexpr std::uint64_t kTextScanLimit = 1u << 20;

std::uint32_t U32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

InputVerdict Verdict(InputKind kind, WordImport wordImport = WordImport::None) {
    InputVerdict verdict{kind, {}, TextEncoding::None};
    verdict.wordImport = wordImport;
    return verdict;
}
InputVerdict Refuse(std::string reason) {
    return {InputKind::Refused, std::move(reason), TextEncoding::None};
}
// Content not named here goes to the office's own type detection.
InputVerdict OfficeDetects(InputKind kind) {
    InputVerdict verdict{kind, kUnrecognisedContent, TextEncoding::None};
    verdict.officeDetects = true;
    return verdict;
}

// The Word 6 to 2003 header (FIB) at the start of the WordDocument stream: wIdent, nFib, and a
// flag word at 0x0A. Word 97 and later write wIdent 0xA5EC and nFib 0xC1 or more (0xC0 in a few
// early files); Word 6 and 95 write 0xA5DC (or 0xA5EC) with nFib 101 (Word 6.0) to 105 (Word 95).
// Other builds, the Far East editions of Word 95 among them (wIdent 0xA697, 0xA699, 0x8098,
// 0x8099), write values of their own, and the office reads many of them: a WordDocument stream
// names the file a Word document whatever its header, and only the flags are read from headers
// whose layout is known.
constexpr std::uint16_t kWordIdent = 0xA5EC;
constexpr std::uint16_t kWordIdentOld = 0xA5DC;
constexpr std::uint16_t kFibWord6First = 101;
constexpr std::uint16_t kFibWord95Last = 105;
constexpr std::uint16_t kFibWord97First = 0xC0;
constexpr std::uint16_t kFibEncrypted = 0x0100;
constexpr std::uint16_t kFibObfuscated = 0x8000;

InputVerdict CheckWordStream(CompoundFile& cf) {
    unsigned char fib[32];
    if (!cf.ReadStreamHead("WordDocument", fib, sizeof fib))
        return Refuse("a damaged Word document whose header cannot be read");
    std::uint16_t ident = U16(fib);
    std::uint16_t nFib = U16(fib + 2);
    std::uint16_t flags = U16(fib + 0x0A);
    const bool knownIdent = ident == kWordIdent || ident == kWordIdentOld;
    if (knownIdent && nFib >= kFibWord6First && nFib <= kFibWord95Last) {
        if (flags & kFibEncrypted) return Verdict(InputKind::Encrypted, WordImport::WordBinary);
        return Verdict(InputKind::WordBinary, WordImport::WordBinary);
    }
    if (knownIdent && nFib >= kFibWord97First) {
        // A missing or damaged table stream is left to the office: it reads some such files.
        if (flags & (kFibEncrypted | kFibObfuscated))
            return Verdict(InputKind::Encrypted, WordImport::WordBinary);
        return Verdict(InputKind::WordBinary, WordImport::WordBinary);
    }
    // A variant not known here: the office decides, and a text import of it is refused.
    return OfficeDetects(InputKind::WordBinary);
}

InputVerdict CheckOle2(const ByteSource& read, std::uint64_t size) {
    CompoundFile cf(read, size);
    if (!cf.Open()) return Refuse("a damaged compound file that cannot be read as a Word document");
    // An encrypted package holds the OOXML document it decrypts to.
    if (cf.HasStream("EncryptedPackage") || cf.HasStream("EncryptionInfo"))
        return Verdict(InputKind::Encrypted, WordImport::Ooxml);
    if (cf.HasStream("WordDocument")) return CheckWordStream(cf);
    if (cf.HasStream("Workbook") || cf.HasStream("Book"))
        return Refuse("an Excel workbook, not a Word document");
    if (cf.HasStream("PowerPoint Document"))
        return Refuse("a PowerPoint presentation, not a Word document");
    if (cf.HasStream("VisioDocument")) return Refuse("a Visio drawing, not a Word document");
    return Refuse("a compound file without a Word document in it");
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Whether a package's font table names a font file of the document's own: embedRegular,
// embedBold, embedItalic or embedBoldItalic, with any prefix.
bool NamesEmbeddedFont(const std::string& xml) {
    for (std::size_t at = xml.find("embed"); at != std::string::npos;
         at = xml.find("embed", at + 1)) {
        if (at == 0 || (xml[at - 1] != ':' && xml[at - 1] != '<')) continue;
        const std::string_view rest = std::string_view(xml).substr(at + 5);
        if (rest.rfind("Regular", 0) == 0 || rest.rfind("Bold", 0) == 0 ||
            rest.rfind("Italic", 0) == 0)
            return true;
    }
    return false;
}

// Font tables are small; one too large to read is taken to embed what its package holds.
constexpr std::size_t kFontTableLimit = 16u << 20;

InputVerdict CheckZip(const ByteSource& read, std::uint64_t size) {
    bool word = false, excel = false, powerpoint = false, types = false, odf = false;
    bool fontFiles = false;
    std::string fontTable;
    for (const auto& original : ZipNames(read, size)) {
        // Package part names compare without regard to case.
        const std::string n = LowerAscii(original);
        if (n.rfind("word/", 0) == 0) word = true;
        if (n.rfind("word/fonts/", 0) == 0 || EndsWith(n, ".odttf")) fontFiles = true;
        if (n == "word/fonttable.xml") fontTable = original;
        if (n.rfind("xl/", 0) == 0) excel = true;
        if (n.rfind("ppt/", 0) == 0) powerpoint = true;
        if (n == "[content_types].xml") types = true;
        if (n == "mimetype" || n == "content.xml") odf = true;
    }
    if (word) {
        InputVerdict verdict = Verdict(InputKind::WordOoxml, WordImport::Ooxml);
        std::string xml;
        if (!fontTable.empty() && ReadZipMember(read, size, fontTable, kFontTableLimit, xml) &&
            !xml.empty())
            verdict.embedsFonts = NamesEmbeddedFont(xml);
        else
            verdict.embedsFonts = fontFiles;
        return verdict;
    }
    if (excel) return Refuse("an Excel workbook, not a Word document");
    if (powerpoint) return Refuse("a PowerPoint presentation, not a Word document");
    if (odf) return Refuse("an OpenDocument file, not a Word document");
    if (types) return Verdict(InputKind::WordOoxml, WordImport::Ooxml);  // an unusual package
    return Refuse("a zip archive, not a Word document");
}

// Word 2.x starts with its own header: wIdent, nFib (Word 2.0 writes 45), and the same flag
// word as later versions at 0x0A. Word 1.x for Windows uses the same layout.
InputVerdict CheckWord2(const unsigned char* h, std::size_t n) {
    if (n < 0x20) return Refuse("a damaged Word 2 document (its header is cut short)");
    std::uint16_t nFib = U16(h + 2);
    std::uint32_t fcMin = U32(h + 0x18), fcMac = U32(h + 0x1C);
    if (nFib == 0 || nFib >= kFibWord6First || fcMin > fcMac)
        return Refuse("a damaged Word 2 document (unknown header)");
    if (U16(h + 0x0A) & kFibEncrypted) return Verdict(InputKind::Encrypted, WordImport::Word2);
    return Verdict(InputKind::Word2, WordImport::Word2);
}

// WordPerfect 5 and later: 0xFF "WPC", the offset of the document area, product type 1
// (WordPerfect), file type 10 (document; 44 on the Mac), major and minor version, encryption key.
InputVerdict CheckWordPerfect(const unsigned char* h, std::size_t n, std::uint64_t size) {
    if (n < 16) return Refuse("a damaged WordPerfect file (its header is cut short)");
    std::uint32_t documentOffset = U32(h + 4);
    int product = h[8], fileType = h[9];
    if (product != 1 || (fileType != 10 && fileType != 44))
        return Refuse("a WordPerfect file that is not a text document");
    if (documentOffset < 16 || documentOffset > size)
        return Refuse("a damaged WordPerfect document (unknown header)");
    if (U16(h + 12) != 0) return Verdict(InputKind::Encrypted, WordImport::WordPerfect);
    return Verdict(InputKind::WordPerfect, WordImport::WordPerfect);
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool Contains(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

// Markup starting with '<': Word's XML and HTML are accepted and other XML is refused; text that
// merely starts with '<' gets no verdict here and is left to the plain-text check.
std::optional<InputVerdict> CheckMarkup(const std::string& body) {
    std::string lower = LowerAscii(body);
    if (Contains(lower, "<w:worddocument") ||
        Contains(lower, "schemas.microsoft.com/office/word/2003/wordml"))
        return Verdict(InputKind::WordXml, WordImport::Word2003Xml);
    // A flat package holds the parts of an OOXML document.
    if (Contains(lower, "<pkg:package") && Contains(lower, "wordprocessingml"))
        return Verdict(InputKind::WordXml, WordImport::Ooxml);
    if (Contains(lower, "<html") || Contains(lower, "<!doctype html") ||
        StartsWith(lower, "<head") || StartsWith(lower, "<body") || StartsWith(lower, "<meta"))
        return Verdict(InputKind::WordHtml, WordImport::Html);
    if (Contains(lower, "urn:schemas-microsoft-com:office:spreadsheet"))
        return Refuse("an Excel workbook, not a Word document");
    if (StartsWith(lower, "<?xml") || StartsWith(lower, "<!doctype") || Contains(lower, "xmlns"))
        return Refuse("an XML or markup file that is not a Word document");
    return std::nullopt;
}

bool AllowedControl(std::uint32_t c) {
    return c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// What a text scan found: text, blank (white space only), or not text.
enum class TextScan { Text, Blank, NotText };

class TextScanner {
  public:
    virtual ~TextScanner() = default;
    // Feeds the next bytes; false once the content is known not to be text.
    virtual bool Feed(const unsigned char* p, std::size_t n) = 0;
    // The scan ended at the end of the file (or at the scan limit, where a cut is not a fault).
    virtual bool Finish(bool atEndOfFile) = 0;
    virtual TextEncoding Encoding() const = 0;
    void Char(std::uint32_t c) {
        if (c > ' ' && c != 0xA0 && c != 0xFEFF) blank_ = false;
    }
    bool blank_ = true;
};

// 8-bit text in any code page, or UTF-8: no control bytes other than tab, line ends and form
// feed (a DOS end-of-file mark as the very last byte is fine). With a UTF-8 byte-order mark the
// bytes must also be valid UTF-8.
class ByteTextScanner : public TextScanner {
  public:
    explicit ByteTextScanner(bool strictUtf8) : strictUtf8_(strictUtf8) {}
    bool Feed(const unsigned char* p, std::size_t n) override {
        for (std::size_t i = 0; i < n; ++i) {
            unsigned char b = p[i];
            if (pendingEof_) return false;  // 0x1A followed by more bytes
            if (b == 0x1A) {
                pendingEof_ = true;
                continue;
            }
            if ((b < 0x20 && !AllowedControl(b)) || b == 0x7F) return false;
            if (utf8_ && !Utf8(b)) {
                if (strictUtf8_) return false;
                utf8_ = false;  // so an 8-bit code page
            }
            Char(b < 0x80 ? b : 0x80);
        }
        return true;
    }
    bool Finish(bool atEndOfFile) override {
        if (atEndOfFile && need_ != 0) {
            if (strictUtf8_) return false;
            utf8_ = false;
        }
        return true;
    }
    TextEncoding Encoding() const override {
        return utf8_ ? TextEncoding::Utf8 : TextEncoding::EightBit;
    }

  private:
    bool Utf8(unsigned char b) {
        if (need_ == 0) {
            if (b < 0x80) return true;
            if (b >= 0xC2 && b <= 0xDF)
                need_ = 1, code_ = b & 0x1F, min_ = 0x80;
            else if (b >= 0xE0 && b <= 0xEF)
                need_ = 2, code_ = b & 0x0F, min_ = 0x800;
            else if (b >= 0xF0 && b <= 0xF4)
                need_ = 3, code_ = b & 0x07, min_ = 0x10000;
            else
                return false;
            return true;
        }
        if ((b & 0xC0) != 0x80) return false;
        code_ = (code_ << 6) | (b & 0x3F);
        if (--need_ > 0) return true;
        return code_ >= min_ && code_ <= 0x10FFFF && (code_ < 0xD800 || code_ > 0xDFFF);
    }
    bool strictUtf8_;
    bool utf8_ = true;
    bool pendingEof_ = false;
    int need_ = 0;
    std::uint32_t code_ = 0, min_ = 0;
};

// UTF-16 after its byte-order mark: paired surrogates, no NUL and no controls but the usual.
class Utf16TextScanner : public TextScanner {
  public:
    explicit Utf16TextScanner(bool bigEndian) : bigEndian_(bigEndian) {}
    bool Feed(const unsigned char* p, std::size_t n) override {
        for (std::size_t i = 0; i < n; ++i) {
            if (!haveByte_) {
                byte_ = p[i];
                haveByte_ = true;
                continue;
            }
            haveByte_ = false;
            std::uint32_t u = bigEndian_ ? (byte_ << 8 | p[i]) : (p[i] << 8 | byte_);
            if (highSurrogate_) {
                if (u < 0xDC00 || u > 0xDFFF) return false;
                highSurrogate_ = false;
                blank_ = false;
                continue;
            }
            if (u >= 0xD800 && u <= 0xDBFF) {
                highSurrogate_ = true;
                continue;
            }
            if (u >= 0xDC00 && u <= 0xDFFF) return false;
            if ((u < 0x20 && !AllowedControl(u)) || u == 0x7F || (u >= 0x80 && u < 0xA0))
                return false;
            Char(u);
        }
        return true;
    }
    bool Finish(bool) override { return true; }  // a cut at the end is a truncated file
    TextEncoding Encoding() const override {
        return bigEndian_ ? TextEncoding::Utf16BigEndian : TextEncoding::Utf16LittleEndian;
    }

  private:
    bool bigEndian_;
    bool haveByte_ = false;
    unsigned char byte_ = 0;
    bool highSurrogate_ = false;
};

TextScan ScanText(const ByteSource& read, std::uint64_t size, std::uint64_t start,
                  TextScanner& scanner) {
    const std::uint64_t end = std::min(size, kTextScanLimit);
    std::vector<unsigned char> chunk(kHeadSize);
    for (std::uint64_t at = start; at < end;) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kHeadSize, end - at));
        std::size_t got = read(at, chunk.data(), want);
        if (got == 0) return TextScan::NotText;
        if (!scanner.Feed(chunk.data(), got)) return TextScan::NotText;
        at += got;
    }
    if (!scanner.Finish(end == size)) return TextScan::NotText;
    return scanner.blank_ ? TextScan::Blank : TextScan::Text;
}

InputVerdict TextVerdict(TextScan scan, const TextScanner& scanner, const char* notText) {
    if (scan == TextScan::Text) return {InputKind::PlainText, {}, scanner.Encoding()};
    if (scan == TextScan::Blank) return Refuse("a blank text file, not a Word document");
    return Refuse(notText);
}

// The ASCII characters of UTF-16 text, other units as '?': enough to recognise markup.
std::string Utf16Ascii(const std::string& head, std::size_t start, bool bigEndian) {
    std::string out;
    for (std::size_t i = start; i + 1 < head.size(); i += 2) {
        unsigned hi = static_cast<unsigned char>(head[i + (bigEndian ? 0 : 1)]);
        unsigned lo = static_cast<unsigned char>(head[i + (bigEndian ? 1 : 0)]);
        unsigned u = hi << 8 | lo;
        out.push_back(u < 0x80 ? static_cast<char>(u) : '?');
    }
    return out;
}

std::size_t SkipSpace(const std::string& s, std::size_t i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
    return i;
}

// WordPerfect before 5.0 carries no signature. Its files are text, single-byte codes 0x80 to 0xBF
// and function groups 0xC0 to 0xFE that end with their own first byte: after a length fixed per
// code, or (-1) wherever that byte comes again; 0xFF never stands alone. The office's WordPerfect
// import recognises the format the same way. 8-bit text that has this structure throughout, with
// at least one group of fixed length (which real text hardly ever closes), is such a document.
constexpr short kWordPerfect4GroupLength[0xFF - 0xC0] = {
    6, 4,   3,  5,   5, 6,  4,  6,  8,  42, 3,  6,  4,  3,  4,  3,   // 0xC0
    6, -1,  -1, 4,   4, 4,  6,  -1, 4,  4,  4,  4,  -1, 24, 4,  -1,  // 0xD0
    4, 3,   -1, 150, 6, 23, 11, 3,  3,  -1, -1, -1, 4,  -1, 44, 18,  // 0xE0
    6, 106, -1, 100, 4, -1, 5,  -1, -1, -1, -1, -1, -1, -1, -1,      // 0xF0
};

bool LooksLikeWordPerfect4(const ByteSource& read, std::uint64_t size) {
    const std::uint64_t end = std::min(size, kTextScanLimit);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(end));
    if (read(0, bytes.data(), bytes.size()) != bytes.size()) return false;
    bool fixedGroup = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char code = bytes[i];
        if (code < 0xC0) continue;
        if (code == 0xFF) return false;
        const int length = kWordPerfect4GroupLength[code - 0xC0];
        std::size_t close = i + 1;
        if (length > 0)
            close = i + static_cast<std::size_t>(length) - 1;
        else
            while (close < bytes.size() && bytes[close] != code) ++close;
        // A group cut by the scan limit, not by the end of the file, is judged by what was read.
        if (close >= bytes.size()) return end < size && fixedGroup;
        if (bytes[close] != code) return false;
        fixedGroup = fixedGroup || length > 0;
        i = close;
    }
    return fixedGroup;
}

struct Signature {
    const char* bytes;
    std::size_t length;
    const char* reason;
    std::size_t at = 0;  // where the bytes stand
};

// Formats that could pass for text at their start, or that deserve a reason of their own; large
// media files and programs among them, which would otherwise cost the office a long text import
// before the worker refuses them.
constexpr Signature kSignatures[] = {
    {"%PDF-", 5, "a PDF file, not a Word document"},
    {"\x89PNG", 4, "a PNG image, not a Word document"},
    {"\xFF\xD8\xFF", 3, "a JPEG image, not a Word document"},
    {"GIF8", 4, "a GIF image, not a Word document"},
    {"\x1F\x8B", 2, "a compressed archive, not a Word document"},
    {"7z\xBC\xAF\x27\x1C", 6, "a compressed archive, not a Word document"},
    {"Rar!\x1A\x07", 6, "a compressed archive, not a Word document"},
    {"\xFD"
     "7zXZ",
     5, "a compressed archive, not a Word document"},
    {"\x28\xB5\x2F\xFD", 4, "a compressed archive, not a Word document"},
    {"BZh", 3, "a compressed archive, not a Word document"},  // with the block mark below
    {"II*\0", 4, "a TIFF image, not a Word document"},
    {"MM\0*", 4, "a TIFF image, not a Word document"},
    {"RIFF", 4, "a sound, video or picture file, not a Word document"},
    {"OggS\0", 5, "a sound or video file, not a Word document"},
    {"fLaC", 4, "a sound file, not a Word document"},
    {"\x1A\x45\xDF\xA3", 4, "a video file, not a Word document"},
    {"ftyp", 4, "a video or picture file, not a Word document", 4},
    {"\x7F"
     "ELF",
     4, "a program, not a Word document"},
    {"SQLite format 3\0", 16, "a database, not a Word document"},
};

bool Matches(const unsigned char* bytes, std::size_t n, const Signature& signature) {
    if (n < signature.at + signature.length ||
        std::memcmp(bytes + signature.at, signature.bytes, signature.length) != 0)
        return false;
    if (std::strcmp(signature.bytes, "BZh") == 0)  // a level digit, then the first block's mark
        return n >= 10 && bytes[3] >= '1' && bytes[3] <= '9' &&
               std::memcmp(bytes + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0;
    return true;
}

// A Windows program: "MZ", and at the offset stored at 0x3C the "PE" header.
bool IsWindowsProgram(const unsigned char* bytes, std::size_t n) {
    if (n < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    const std::uint32_t pe = U32(bytes + 0x3C);
    return pe <= n - 4 && std::memcmp(bytes + pe, "PE\0\0", 4) == 0;
}

}  // namespace

InputVerdict CheckContent(const ByteSource& read, std::uint64_t size) {
    if (size == 0) return Refuse("an empty file");
    std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadSize)), '\0');
    head.resize(read(0, head.data(), head.size()));
    if (head.empty()) return Refuse("a file that cannot be read");
    auto bytes = reinterpret_cast<const unsigned char*>(head.data());
    const std::size_t n = head.size();

    if (n >= 8 && std::memcmp(bytes, kOle2Magic, 8) == 0) return CheckOle2(read, size);
    if (StartsWith(head, "PK\x03\x04") || StartsWith(head, "PK\x05\x06"))
        return CheckZip(read, size);
    if (n >= 2 && bytes[1] == 0xA5 && (bytes[0] == 0xDB || bytes[0] == 0x9B || bytes[0] == 0x9C))
        return CheckWord2(bytes, n);
    if (StartsWith(head, "\xFFWPC")) return CheckWordPerfect(bytes, n, size);
    if (std::all_of(head.begin(), head.end(), [](char c) { return c == 0; }))
        return Refuse("a zero-filled file, not a Word document");

    if (n >= 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        const bool bigEndian = bytes[0] == 0xFE;
        std::string ascii = Utf16Ascii(head, 2, bigEndian);
        std::string body = ascii.substr(SkipSpace(ascii, 0));
        if (!body.empty() && body[0] == '<')
            if (auto markup = CheckMarkup(body)) return *markup;
        Utf16TextScanner scanner(bigEndian);
        return TextVerdict(ScanText(read, size, 2, scanner), scanner,
                           "damaged UTF-16 text, not a Word document");
    }

    const bool utf8Mark = StartsWith(head, "\xEF\xBB\xBF");
    const std::size_t textStart = utf8Mark ? 3 : 0;
    std::string body = head.substr(SkipSpace(head, textStart));
    if (StartsWith(body, "{\\rtf")) return Verdict(InputKind::Rtf, WordImport::Rtf);
    if (!body.empty() && body[0] == '<')
        if (auto markup = CheckMarkup(body)) return *markup;
    std::string lower = LowerAscii(body.substr(0, 4096));
    if (StartsWith(lower, "mime-version:") && Contains(lower, "multipart/related") &&
        Contains(lower, "text/html"))
        return Verdict(InputKind::WordHtml, WordImport::Html);
    for (const auto& signature : kSignatures)
        if (Matches(bytes, n, signature)) return Refuse(signature.reason);
    if (IsWindowsProgram(bytes, n)) return Refuse("a program, not a Word document");

    ByteTextScanner scanner(utf8Mark);
    const TextScan scan = ScanText(read, size, textStart, scanner);
    if (!utf8Mark) {
        // Binary content without a name here (WordPerfect before 5.0, formats of other word
        // processors, or junk) is the office's to judge; so is 8-bit "text" built like an early
        // WordPerfect document, which a text import would garble.
        if (scan == TextScan::NotText) return OfficeDetects(InputKind::Unknown);
        if (scan == TextScan::Text && scanner.Encoding() == TextEncoding::EightBit &&
            LooksLikeWordPerfect4(read, size))
            return OfficeDetects(InputKind::Unknown);
    }
    return TextVerdict(scan, scanner, kUnrecognisedContent);
}

bool IsPlainTextImport(const std::string& filterName) {
    return filterName == "Text" || filterName.rfind("Text (", 0) == 0;
}

std::vector<std::string> WordImportFilters(WordImport import) {
    std::vector<std::string> names;
    for (std::size_t i = 0; !WordImportFilter(import, i).empty(); ++i)
        names.emplace_back(WordImportFilter(import, i));
    return names;
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

namespace vellumor {

InputVerdict CheckStream(std::istream& in) {
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    const std::uint64_t size = end < 0 ? 0 : static_cast<std::uint64_t>(end);
    ByteSource source = [&in](std::uint64_t offset, void* buffer,
                              std::size_t bytes) -> std::size_t {
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in) return 0;
        in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(bytes));
        return static_cast<std::size_t>(in.gcount());
    };
    return CheckContent(source, size);
}

}  // namespace vellumor
