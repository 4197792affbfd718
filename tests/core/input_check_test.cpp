#include "core/input_check.h"
#include "tests/support/compound_file_builder.h"
#include "tests/support/zip_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>
#include <vector>
#include "tests/support/corpus.h"

using namespace vellumor;
using namespace vellumor::test;

namespace {

std::string Corpus(const std::string& name) {
    std::ifstream in(std::filesystem::path(VELLUMOR_CORPUS) / std::filesystem::u8path(name),
                     std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The first bytes of a WordDocument stream: wIdent, nFib, and the flag word at 0x0A.
std::string Fib(std::uint16_t nFib, std::uint16_t flags, std::size_t size = 8192,
                std::uint16_t ident = 0xA5EC) {
    std::string fib(size, '\0');
    Put16(fib, 0, ident);
    Put16(fib, 2, nFib);
    Put16(fib, 0x0A, flags);
    if (size >= 0x22) Put16(fib, 0x20, 14);  // csw of a Word 97 header
    return fib;
}

std::string WordFile(std::uint16_t nFib, std::uint16_t flags,
                     std::u16string name = u"WordDocument") {
    return CompoundFileBuilder()
        .Stream(std::move(name), Fib(nFib, flags))
        .Stream(u"1Table", std::string(600, 'x'))
        .Build();
}

// A zip archive of empty members, named by local headers only (as a truncated archive is).
std::string Zip(const std::vector<std::string>& names) {
    std::string zip;
    for (const auto& name : names) {
        std::string h(30, '\0');
        Put32(h, 0, 0x04034b50);
        Put16(h, 4, 20);
        Put16(h, 26, static_cast<std::uint16_t>(name.size()));
        zip += h + name;
    }
    return zip;
}

std::string WordPerfect(int product, int fileType, std::uint16_t key = 0) {
    std::string h(16, '\0');
    h.replace(0, 4, "\xFFWPC");
    Put32(h, 4, 16);
    h[8] = static_cast<char>(product);
    h[9] = static_cast<char>(fileType);
    h[10] = 2;  // WordPerfect 6 and later
    Put16(h, 12, key);
    return h + std::string(200, 'x');
}

InputKind Kind(const std::string& bytes) {
    return CheckBytes(bytes).kind;
}

// Content the check leaves to the office's detection, with the reason a text import of it gets.
void ExpectOfficeDetects(const std::string& bytes, InputKind kind = InputKind::Unknown) {
    auto v = CheckBytes(bytes);
    EXPECT_EQ(v.kind, kind);
    EXPECT_TRUE(v.accepted());
    EXPECT_TRUE(v.officeDetects);
    EXPECT_EQ(v.reason, kUnrecognisedContent);
}

void ExpectRefused(const std::string& bytes, const std::string& phrase) {
    auto v = CheckBytes(bytes);
    EXPECT_EQ(v.kind, InputKind::Refused) << phrase;
    EXPECT_FALSE(v.accepted());
    EXPECT_NE(v.reason.find(phrase), std::string::npos) << v.reason;
}

}  // namespace

TEST(InputCheck, AcceptsWhatWordOpens) {
    VELLUMOR_REQUIRE_CORPUS();
    EXPECT_EQ(CheckBytes(Corpus("poi_58067.docx")).kind, InputKind::WordOoxml);
    EXPECT_EQ(CheckBytes(Corpus("poi_footnote.doc")).kind, InputKind::WordBinary);
    EXPECT_EQ(CheckBytes(Corpus("poi_Word95.doc")).kind, InputKind::WordBinary);
    EXPECT_EQ(CheckBytes(Corpus("cn.orthodox.www_divenbog_APRIL_30-APRIL.DOC")).kind,
              InputKind::WordBinary);
    EXPECT_EQ(CheckBytes(Corpus("poi_word2.doc")).kind, InputKind::Word2);
    EXPECT_EQ(CheckBytes(Corpus("tika_testWORDML_tableInsideParagraph.doc")).kind,
              InputKind::WordXml);
    // A truncated archive still names its Word parts; the office decides.
    EXPECT_EQ(CheckBytes(Corpus("poi_truncated62886.docx")).kind, InputKind::WordOoxml);
    EXPECT_EQ(CheckBytes("{\\rtf1\\ansi hello}").kind, InputKind::Rtf);
    EXPECT_EQ(CheckBytes("\xEF\xBB\xBF  <html><body>x</body></html>").kind, InputKind::WordHtml);
    EXPECT_EQ(CheckBytes("MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=x\r\n"
                         "\r\n--x\r\nContent-Type: text/html\r\n")
                  .kind,
              InputKind::WordHtml);
}

TEST(InputCheck, RefusesWhatIsNotAWordDocument) {
    VELLUMOR_REQUIRE_CORPUS();
    auto refused = [](const std::string& bytes, const std::string& phrase) {
        auto v = CheckBytes(bytes);
        EXPECT_EQ(v.kind, InputKind::Refused);
        EXPECT_NE(v.reason.find(phrase), std::string::npos) << v.reason;
    };
    refused("", "empty");
    // Plain text is no longer refused: see ConvertsPlainTextAsText.
    refused("<?xml version=\"1.0\"?><svg/>", "not a Word document");
    refused(Corpus("poi_TestRobert_Flaherty.doc"), "Excel workbook");
    // A compound file cut short is not read past its end.
    refused(Corpus("poi_footnote.doc").substr(0, 1000), "damaged");
    refused(std::string("PK\x03\x04", 4) + std::string(100, 'x'), "zip archive");
}

// Encrypted files reach the office, which opens those with the default password; the worker
// refuses as password-protected only what the office asks a password for.
TEST(InputCheck, EncryptedDocumentsGoToTheOffice) {
    VELLUMOR_REQUIRE_CORPUS();
    for (const char* name :
         {"poi_bug53475-password-is-pass.docx", "poi_password_tika_binaryrc4.doc"}) {
        auto v = CheckBytes(Corpus(name));
        EXPECT_EQ(v.kind, InputKind::Encrypted) << name;
        EXPECT_TRUE(v.accepted()) << name;
    }
    EXPECT_EQ(Kind(CompoundFileBuilder()
                       .Stream(u"encryptioninfo", std::string(200, '\0'))
                       .Stream(u"ENCRYPTEDPACKAGE", std::string(5000, '\x55'))
                       .Build()),
              InputKind::Encrypted);
    EXPECT_EQ(Kind(WordFile(104, 0x0100)), InputKind::Encrypted);  // Word 95, fEncrypted
    EXPECT_EQ(Kind(WordFile(193, 0x0100)), InputKind::Encrypted);  // Word 97+, fEncrypted
    EXPECT_EQ(Kind(WordFile(193, 0x8100)), InputKind::Encrypted);  // XOR obfuscation
}

TEST(InputCheck, CompoundFileStreamNamesIgnoreLetterCase) {
    VELLUMOR_REQUIRE_CORPUS();
    EXPECT_EQ(CheckBytes(Corpus("poi_footnote.doc")).kind, InputKind::WordBinary);
    for (const char16_t* name :
         {u"WordDocument", u"worddocument", u"WORDDOCUMENT", u"wORDdOCUMENT"})
        EXPECT_EQ(Kind(WordFile(193, 0, name)), InputKind::WordBinary);
    ExpectRefused(CompoundFileBuilder().Stream(u"WORKBOOK", std::string(5000, '\0')).Build(),
                  "Excel workbook");
    ExpectRefused(CompoundFileBuilder().Stream(u"book", std::string(100, '\0')).Build(),
                  "Excel workbook");
    ExpectRefused(
        CompoundFileBuilder().Stream(u"powerpoint document", std::string(5000, '\0')).Build(),
        "PowerPoint presentation");
    // Non-ASCII units never fold onto ASCII letters; a lone surrogate and an over-long name are
    // read safely.
    std::u16string odd(40, u'\u4E2D');
    odd[0] = 0xFFFF;
    odd[1] = 0xD800;
    for (const std::u16string& name :
         {std::u16string(u"W\u00D6rdDocument"), std::u16string(u"WordDocumen\u0165"),
          std::u16string(u"\u0130\u0131"), odd})
        ExpectRefused(CompoundFileBuilder().Stream(name, Fib(193, 0)).Build(),
                      "compound file without a Word document");
}

TEST(InputCheck, RecognisesEveryWordBinaryGenerationByItsHeader) {
    EXPECT_EQ(Kind(WordFile(101, 0)), InputKind::WordBinary);       // Word 6.0
    EXPECT_EQ(Kind(WordFile(104, 0x0005)), InputKind::WordBinary);  // Word 95 template, complex
    EXPECT_EQ(Kind(WordFile(193, 0x0200)), InputKind::WordBinary);  // Word 97+ with 1Table
    // Word 2007 still writes 0xC1 in the base header; later numbers are accepted too.
    EXPECT_EQ(Kind(WordFile(0x112, 0)), InputKind::WordBinary);
    // A small WordDocument stream sits in the mini stream.
    EXPECT_EQ(Kind(CompoundFileBuilder().Stream(u"WordDocument", Fib(104, 0, 700)).Build()),
              InputKind::WordBinary);
    EXPECT_FALSE(CheckBytes(WordFile(104, 0)).officeDetects);
    EXPECT_FALSE(CheckBytes(WordFile(193, 0)).officeDetects);
    // A stream too short for any Word header is damaged.
    ExpectRefused(CompoundFileBuilder().Stream(u"WordDocument", Fib(193, 0, 20)).Build(),
                  "header cannot be read");

    std::string word2(0x200, '\0');
    Put16(word2, 0, 0xA5DB);
    Put16(word2, 2, 45);
    Put32(word2, 0x18, 0x180);
    Put32(word2, 0x1C, 0x190);
    EXPECT_EQ(Kind(word2), InputKind::Word2);
    std::string encrypted2 = word2;
    Put16(encrypted2, 0x0A, 0x0100);
    EXPECT_EQ(Kind(encrypted2), InputKind::Encrypted);
    std::string backwards = word2;
    Put32(backwards, 0x18, 0x1000);
    ExpectRefused(backwards, "Word 2");
    ExpectRefused(word2.substr(0, 10), "Word 2");
}

// A WordDocument stream names a Word document whatever its header: the Far East editions of
// Word 95 write identifiers of their own, and other builds numbers the check does not know. The
// office's detection decides; their flags are not read, so none is taken for encryption.
TEST(InputCheck, WordBinariesOfUnknownHeaderVariantsGoToTheOffice) {
    auto variant = [](std::uint16_t ident, std::uint16_t nFib, std::uint16_t flags = 0) {
        return CompoundFileBuilder()
            .Stream(u"WordDocument", Fib(nFib, flags, 8192, ident))
            .Stream(u"1Table", std::string(600, 'x'))
            .Build();
    };
    for (std::uint16_t ident : {0xA697, 0xA699, 0x8098, 0x8099})
        ExpectOfficeDetects(variant(ident, 104), InputKind::WordBinary);
    ExpectOfficeDetects(variant(0xA699, 104, 0x0100), InputKind::WordBinary);
    ExpectOfficeDetects(variant(0x1234, 193), InputKind::WordBinary);
    ExpectOfficeDetects(variant(0xA5EC, 45), InputKind::WordBinary);  // a Word 2 number
    ExpectOfficeDetects(variant(0xA5DC, 150), InputKind::WordBinary);
    // In the mini stream too; and what is not a Word document under a Word name stays refused.
    ExpectOfficeDetects(
        CompoundFileBuilder().Stream(u"WordDocument", Fib(104, 0, 700, 0xA699)).Build(),
        InputKind::WordBinary);
    ExpectRefused(CompoundFileBuilder()
                      .Stream(u"Workbook", Fib(104, 0, 8192, 0xA699))
                      .Stream(u"Book", std::string(100, '\0'))
                      .Build(),
                  "Excel workbook");
    EXPECT_EQ(Kind(CompoundFileBuilder()
                       .Stream(u"WordDocument", Fib(104, 0, 8192, 0xA699))
                       .Stream(u"EncryptionInfo", std::string(200, '\0'))
                       .Build()),
              InputKind::Encrypted);
    std::string cut = variant(0xA699, 104);
    ExpectRefused(cut.substr(0, cut.size() / 2), "damaged");
}

TEST(InputCheck, AcceptsWordPerfectDocumentsByTheirHeader) {
    EXPECT_EQ(Kind(WordPerfect(1, 10)), InputKind::WordPerfect);
    EXPECT_EQ(Kind(WordPerfect(1, 44)), InputKind::WordPerfect);  // Macintosh
    EXPECT_EQ(Kind(WordPerfect(1, 10, 0x1234)), InputKind::Encrypted);
    ExpectRefused(WordPerfect(0x16, 1), "not a text document");  // a WordPerfect graphic
    ExpectRefused(WordPerfect(1, 10).substr(0, 10), "WordPerfect");
}

TEST(InputCheck, ConvertsPlainTextAsText) {
    EXPECT_EQ(Kind("Dear reader,\nthis is only text.\n"), InputKind::PlainText);
    EXPECT_EQ(Kind("\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
                   "e \xE4\xB8\xAD\xE6\x96\x87\r\n"),
              InputKind::PlainText);
    EXPECT_EQ(Kind("[\n  {\"Content-Type\": \"text/plain\", \"n\": 1}\n]\n"), InputKind::PlainText);
    EXPECT_EQ(Kind("Gr\xFC\xDF"
                   "e aus K\xF6ln\r\n\f"),
              InputKind::PlainText);  // Windows-1252
    EXPECT_EQ(Kind("<Alice> wrote: hello\n"), InputKind::PlainText);
    EXPECT_EQ(Kind("old DOS text\r\n\x1A"), InputKind::PlainText);
    std::string utf16le("\xFF\xFE", 2), utf16be("\xFE\xFF", 2);
    for (char16_t c : std::u16string(u"Gr\u00FC\u00DFe \u4E2D\u6587 \U0001F600\r\n")) {
        utf16le += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        utf16be += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    }
    EXPECT_EQ(Kind(utf16le), InputKind::PlainText);
    EXPECT_EQ(Kind(utf16be), InputKind::PlainText);
    // The worker tells the office the encoding: 8-bit text read as UTF-8 turns into '?'.
    EXPECT_EQ(CheckBytes("plain ASCII\n").text, TextEncoding::Utf8);
    EXPECT_EQ(CheckBytes("K\xC3\xB6ln\n").text, TextEncoding::Utf8);
    EXPECT_EQ(CheckBytes("K\xF6ln\n").text, TextEncoding::EightBit);
    EXPECT_EQ(CheckBytes("ends inside a character \xE4\xB8").text, TextEncoding::EightBit);
    EXPECT_EQ(CheckBytes(utf16le).text, TextEncoding::Utf16LittleEndian);
    EXPECT_EQ(CheckBytes(utf16be).text, TextEncoding::Utf16BigEndian);

    ExpectRefused(std::string("\xFF\xFE"
                              "A\0\x00\xD8"
                              "B\0",
                              8),
                  "UTF-16");  // lone surrogate
    // Text that says it is UTF-8 and is not, or only white space, is refused; binary bytes in
    // text are left to the office (see ContentTheCheckCannotNameGoesToTheOffice).
    ExpectRefused("\xEF\xBB\xBFnot \xC3 UTF-8", "not a Word document");
    ExpectRefused(" \r\n\t \n", "blank");
    ExpectOfficeDetects("text\x1A with more after the end mark");
    ExpectOfficeDetects("control \x01\x02 bytes");
    // Binary after a long text start is still found.
    std::string textThenBinary(200000, 'a');
    textThenBinary[150000] = '\0';
    ExpectOfficeDetects(textThenBinary);
    ExpectRefused("%PDF-1.4 all ASCII\n", "PDF");
}

TEST(InputCheck, RecognisesMarkupInAnyEncoding) {
    std::string html("\xFF\xFE", 2);
    for (char c : std::string("<html><body><p>x</p></body></html>")) html += {c, '\0'};
    EXPECT_EQ(Kind(html), InputKind::WordHtml);
    EXPECT_EQ(Kind("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\"><HTML>"),
              InputKind::WordHtml);
    EXPECT_EQ(Kind("<?xml version=\"1.0\"?><?mso-application progid=\"Word.Document\"?>"
                   "<w:wordDocument xmlns:w=\"http://schemas.microsoft.com/office/word/2003/"
                   "wordml\"/>"),
              InputKind::WordXml);
    ExpectRefused(
        "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:"
        "spreadsheet\"/>",
        "Excel workbook");
}

TEST(InputCheck, RefusesJunkArchivesAndOtherOfficeFiles) {
    ExpectRefused(std::string(4096, '\0'), "zero-filled");
    ExpectRefused(std::string(1, '\0'), "zero-filled");
    EXPECT_EQ(Kind(Zip({"[Content_Types].xml", "Word/Document.xml"})), InputKind::WordOoxml);
    ExpectRefused(Zip({"[Content_Types].xml", "xl/workbook.xml"}), "Excel workbook");
    ExpectRefused(Zip({"[Content_Types].xml", "PPT/presentation.xml"}), "PowerPoint");
    ExpectRefused(Zip({"mimetype", "content.xml"}), "OpenDocument");
    ExpectRefused(Zip({"photo.jpg", "notes.txt"}), "zip archive");
    ExpectRefused(std::string("PK\x05\x06", 4) + std::string(18, '\0'), "zip archive");
    ExpectRefused("\x1F\x8B\x08\x00\x00\x00", "compressed archive");
    // Media files and programs are named, not left to a long text import by the office.
    const std::string tail(100, '\x01');
    ExpectRefused(std::string("RIFF\x24\0\0\0WAVEfmt ", 16) + tail, "sound, video");
    ExpectRefused(std::string("\0\0\0\x18"
                              "ftypmp42",
                              12) +
                      tail,
                  "video");
    ExpectRefused(std::string("\x1A\x45\xDF\xA3", 4) + tail, "video");
    ExpectRefused(std::string("II*\0", 4) + tail, "TIFF");
    ExpectRefused(
        "\x7F"
        "ELF\x02\x01\x01" +
            tail,
        "program");
    ExpectRefused(std::string("BZh91AY&SY", 10) + tail, "compressed archive");
    std::string windowsProgram = "MZ" + std::string(0x80, '\0');
    Put32(windowsProgram, 0x3C, 0x40);
    windowsProgram.replace(0x40, 4, std::string("PE\0\0", 4));
    ExpectRefused(windowsProgram, "program");
    // Text that merely starts like one of them is still text.
    EXPECT_EQ(Kind("MZ is a postal code prefix\n"), InputKind::PlainText);
    EXPECT_EQ(Kind("BZh is not bzip2 here\n"), InputKind::PlainText);
}

// Hostile sizes and links end in a refusal, not a loop or a read past the end.
TEST(InputCheck, DamagedCompoundFilesAreRefusedQuickly) {
    CompoundFileBuilder builder;
    builder.Stream(u"WordDocument", Fib(193, 0));
    const std::string good = builder.Build();
    ASSERT_EQ(Kind(good), InputKind::WordBinary);

    std::string loop = good;  // the directory's chain points back at itself
    Put32(loop, 512 + 4 * builder.DirectoryStart(), builder.DirectoryStart());
    ExpectRefused(loop, "damaged");

    std::string huge = good;  // absurd FAT and DIFAT counts are cut to what the file can hold
    Put32(huge, 0x2C, 0xFFFFFFFF);
    Put32(huge, 0x48, 0xFFFFFFFF);
    Put32(huge, 0x44, 0xFFFFFFFA);
    EXPECT_EQ(Kind(huge), InputKind::WordBinary);
    std::string difat = good;  // FAT sectors beyond the header's list, in a DIFAT off the end
    Put32(difat, 0x48, 0xFFFFFFFF);
    Put32(difat, 0x44, 0xFFFFFFFA);
    Put32(difat, 0x2C, 0xFFFFFFFF);
    for (std::size_t at = 0x50; at < 512; at += 4) Put32(difat, at, 0);
    ExpectRefused(difat + std::string(512 * 200, '\0'), "damaged");

    std::string cyclic = good;  // the stream's sibling link points to itself and the root
    const std::size_t entry1 = 512 * (1 + builder.DirectoryStart()) + 128;
    Put32(cyclic, entry1 + 0x44, 1);
    Put32(cyclic, entry1 + 0x48, 0);
    EXPECT_EQ(Kind(cyclic), InputKind::WordBinary);

    std::string farStart = good;  // a stream starting beyond the file
    Put32(farStart, entry1 + 0x74, 0x7FFFFFFF);
    ExpectRefused(farStart, "damaged");
    for (std::size_t cut : {8u, 100u, 511u, 513u, 1024u}) ExpectRefused(good.substr(0, cut), "");
}

// What the check cannot name goes to the office's own detection: the worker refuses it as
// kUnrecognisedContent when the office would only import it as text (random bytes, binary data),
// and converts what the office recognises (WordPerfect before 5.0 carries no signature). Named
// junk is refused here with its reason.
TEST(InputCheck, ContentTheCheckCannotNameGoesToTheOffice) {
    std::mt19937 random(7);
    for (std::size_t size : {1, 3, 7, 511, 513, 70000}) {
        std::string noise(size, '\0');
        for (auto& c : noise) c = static_cast<char>(random());
        noise[0] = '\x01';  // no accidental header
        ExpectOfficeDetects(noise);
    }
    ExpectRefused("", "empty file");
    ExpectRefused(std::string(70000, '\0'), "zero-filled");
    ExpectRefused(std::string("\x89PNG\r\n\x1A\n", 8) + std::string(100, '\x01'), "PNG image");

    // WordPerfect 4: text, single-byte codes and function groups closed by their own first
    // byte (0xC0 takes 6 bytes, 0xD1 runs to the next 0xD1).
    const std::string wp4 =
        "\xC0\x20\x2A\x20\x4A\xC0"
        "Dear reader,\r\n\xD1 header \xD1\x83"
        "this was written with WordPerfect 4.2.\r\n";
    EXPECT_EQ(CheckBytes(wp4.substr(6)).kind, InputKind::PlainText);  // without a fixed group
    ExpectOfficeDetects(wp4);  // passes as 8-bit text, but text import would garble it
    ExpectOfficeDetects(std::string("\xC0\x00\x0A\x00\x4A\xC0", 6) + "binary margins\r\n");
    // 8-bit text whose letters do not close such groups stays text.
    EXPECT_EQ(Kind("caf\xE9 cr\xE8me \xE0 la fa\xE7on\r\n"), InputKind::PlainText);
    EXPECT_EQ(Kind("\xC0\x20\x2A\x20\x4A\xC0 but then \xFF stands alone\r\n"),
              InputKind::PlainText);
    EXPECT_EQ(Kind("\xC0\x20\x2A\x20\x4A\xC0 and a group cut at the end \xC1\x20"),
              InputKind::PlainText);
    // Beyond the text scan a cut group is not held against it.
    std::string longWp4 = wp4 + std::string(2u << 20, 'a');
    longWp4[(1u << 20) - 2] = '\xD1';
    ExpectOfficeDetects(longWp4);
}

TEST(InputCheck, NamesTheOfficesPlainTextImports) {
    for (const char* text :
         {"Text", "Text (encoded)", "Text (StarWriter/Web)", "Text (encoded) (StarWriter/Web)",
          "Text (encoded) (StarWriter/GlobalDocument)"})
        EXPECT_TRUE(IsPlainTextImport(text)) << text;
    for (const char* other : {"", "MS Word 97", "MS WinWord 6.0", "MS Word 95", "WordPerfect",
                              "Rich Text Format", "Office Open XML Text", "TextDocument"})
        EXPECT_FALSE(IsPlainTextImport(other)) << other;
}

// Each Word format the check names is read by that format's import only, encrypted files by the
// import of what they decrypt to; what the office decides about gets no import of its own.
TEST(InputCheck, NamesTheImportOfEachWordFormat) {
    auto importOf = [](const std::string& bytes) { return CheckBytes(bytes).wordImport; };
    EXPECT_EQ(importOf(WordFile(193, 0)), WordImport::WordBinary);
    EXPECT_EQ(importOf(WordFile(104, 0)), WordImport::WordBinary);
    EXPECT_EQ(importOf(WordFile(193, 0x0100)), WordImport::WordBinary);
    EXPECT_EQ(importOf(CompoundFileBuilder()
                           .Stream(u"EncryptionInfo", std::string(200, '\0'))
                           .Stream(u"EncryptedPackage", std::string(5000, '\x55'))
                           .Build()),
              WordImport::Ooxml);
    EXPECT_EQ(importOf("{\\rtf1\\ansi hello}"), WordImport::Rtf);
    EXPECT_EQ(importOf("<html><body>x</body></html>"), WordImport::Html);
    EXPECT_EQ(importOf("<?xml version=\"1.0\"?><w:wordDocument xmlns:w=\"http://schemas.microsoft."
                       "com/office/word/2003/wordml\"/>"),
              WordImport::Word2003Xml);
    EXPECT_EQ(importOf(WordPerfect(1, 10)), WordImport::WordPerfect);
    EXPECT_EQ(importOf("plain text, read as text"), WordImport::None);
    // A header variant the check does not know is the office's to judge.
    EXPECT_EQ(CheckBytes(WordFile(50, 0)).wordImport, WordImport::None);

    for (std::uint8_t code = 1; code <= kLastWordImport; ++code) {
        const auto names = WordImportFilters(static_cast<WordImport>(code));
        ASSERT_FALSE(names.empty()) << int(code);
        for (const auto& name : names) EXPECT_FALSE(IsPlainTextImport(name)) << name;
    }
    EXPECT_TRUE(WordImportFilters(WordImport::None).empty());
    EXPECT_EQ(WordImportFilters(WordImport::Ooxml).front(), "MS Word 2007 XML");
}

namespace {

std::string FontPackage(const std::string& fontTable, std::vector<ZipMember> more = {}) {
    std::vector<ZipMember> members = {{"[Content_Types].xml", "<Types/>"},
                                      {"word/document.xml", "<w:document/>"},
                                      {"word/fontTable.xml", fontTable}};
    members.insert(members.end(), more.begin(), more.end());
    return ZipWithDirectory(members);
}

}  // namespace

// A package whose font table names a font file of its own is marked, so its worker is not
// reused; a font table that only names fonts, or a prefix-less one, is read right.
TEST(InputCheck, NotesDocumentsThatEmbedFonts) {
    const std::string named =
        "<w:fonts><w:font w:name=\"Times New Roman\"><w:panose1 w:val=\"02020603050405020304\"/>"
        "</w:font></w:fonts>";
    const std::string embedded =
        "<w:fonts><w:font w:name=\"Times New Roman\"><w:embedBoldItalic r:id=\"rId1\" "
        "w:fontKey=\"{00000000-0000-0000-0000-000000000000}\"/></w:font></w:fonts>";
    const ZipMember font{"word/fonts/font1.odttf", std::string(64, 'f')};

    EXPECT_FALSE(CheckBytes(FontPackage(named)).embedsFonts);
    // Settings that ask Word to embed name no font file.
    EXPECT_FALSE(CheckBytes(FontPackage(named + "<w:embedTrueTypeFonts/>")).embedsFonts);
    const InputVerdict marked = CheckBytes(FontPackage(embedded, {font}));
    EXPECT_EQ(marked.kind, InputKind::WordOoxml);
    EXPECT_TRUE(marked.embedsFonts);
    EXPECT_TRUE(CheckBytes(FontPackage("<fonts><font><embedRegular id=\"a\"/></font></fonts>"))
                    .embedsFonts);
    // A font table that cannot be read: the font files in the package decide.
    EXPECT_TRUE(CheckBytes(Zip({"[Content_Types].xml", "word/document.xml", "word/fontTable.xml",
                                "word/fonts/font1.odttf"}))
                    .embedsFonts);
    EXPECT_FALSE(CheckBytes(Zip({"[Content_Types].xml", "word/document.xml", "word/fontTable.xml"}))
                     .embedsFonts);
}

TEST(InputCheck, NotesTheCorpusDocumentThatEmbedsFonts) {
    VELLUMOR_REQUIRE_CORPUS();
    EXPECT_TRUE(CheckBytes(Corpus("docx4j_FontEmbedded.docx")).embedsFonts);
    EXPECT_FALSE(CheckBytes(Corpus("poi_58067.docx")).embedsFonts);
}
