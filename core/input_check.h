// What the workers accept before the office sees a file: the kinds of content Word itself opens
// under .doc and .docx names and the office reads faithfully (including plain text and
// WordPerfect). What it can name but must not convert is refused with a reason (empty and
// zero-filled files, spreadsheets, presentations, images, archives). Content it cannot name goes
// to the office's own type detection, and the worker refuses it when the office would only import
// it as plain text, so random bytes never turn into a PDF of garbage. Portable; no office code.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_source.h"

namespace vellumor {

enum class InputKind {
    WordBinary,  // OLE2 compound file with a WordDocument stream (Word 6 to 2003)
    WordOoxml,   // zip with a word/ part
    Rtf,
    WordHtml,   // HTML or Word's single-file web page
    WordXml,    // Word 2003 XML or flat OPC
    Word2,      // Word 2.x (and 1.x) binary
    Refused,    // reason says why
    PlainText,  // UTF-8, UTF-16 with a byte-order mark, or 8-bit text without controls
    Encrypted,  // encrypted package or Word binary: accepted, the office tries the default
                // password and the worker refuses it if a password is asked for
    WordPerfect,
    Unknown,  // not named here: the office's type detection decides (see officeDetects)
};

// The import a file named as a Word format is loaded with, whatever the office's own detection
// makes of it: a damaged or encrypted Word file that detection takes for text must fail, never
// turn into a PDF of its bytes. None: the office decides (plain text, content not named here).
// The numbers travel in the worker protocol (core/engine_protocol.h).
enum class WordImport : std::uint8_t {
    None = 0,
    WordBinary = 1,  // Word 6 to 2003
    Ooxml = 2,       // .docx and its kin, encrypted packages, flat OPC
    Rtf = 3,
    Html = 4,  // HTML and Word's single-file web page
    Word2003Xml = 5,
    Word2 = 6,
    WordPerfect = 7,
};
inline constexpr std::uint8_t kLastWordImport = 7;

// How PlainText is encoded, so the worker can tell the office: text that is not valid UTF-8 is
// in an 8-bit code page, which the office would otherwise read as UTF-8.
enum class TextEncoding { None, Utf8, Utf16LittleEndian, Utf16BigEndian, EightBit };

struct InputVerdict {
    InputKind kind = InputKind::Refused;
    std::string reason;  // for Refused: a phrase such as "an Excel workbook, not a Word document"
    TextEncoding text = TextEncoding::None;  // for PlainText
    // The office's own type detection decides what the content is, and the worker refuses it
    // (as kUnrecognisedContent) when the office picks a plain-text import: set for Unknown and
    // for a Word binary whose header is of a variant the check does not know.
    bool officeDetects = false;
    WordImport wordImport = WordImport::None;
    // The document carries fonts of its own (a package's word/fonts parts named by its font
    // table). The office registers such fonts for the whole process when it reads them and keeps
    // them after the document closes, so a later document naming the same family would be laid
    // out with them: the worker that read this one is replaced before the next document.
    bool embedsFonts = false;
    bool accepted() const { return kind != InputKind::Refused; }
};

// Why content the office could only import as plain text is refused ("it is " in front): the
// reason the check gives binary junk, and the one the workers give when the office's detection
// picks a text import for such content.
inline constexpr const char* kUnrecognisedContent = "not a Word document (unrecognised content)";

// Whether an import filter of the office (its FilterName) reads the file as plain text: "Text",
// "Text (encoded)" and their variants for web and master documents.
bool IsPlainTextImport(const std::string& filterName);

// The office's import filters (their FilterName, as its filter configuration names them from
// 7.4 on) that read a file as the Word format given: the first is the one named when the
// office's detection picks none of them. WordImportFilter answers the index-th, "" past the
// last; WordImportFilters all of them (none for None).
namespace word_filters {
inline constexpr std::string_view kBinary[] = {"MS Word 97", "MS Word 97 Vorlage", "MS Word 95",
                                               "MS Word 95 Vorlage", "MS WinWord 6.0"};
inline constexpr std::string_view kOoxml[] = {"MS Word 2007 XML", "MS Word 2007 XML Template",
                                              "MS Word 2007 XML VBA", "Office Open XML Text",
                                              "Office Open XML Text Template"};
inline constexpr std::string_view kRtf[] = {"Rich Text Format"};
inline constexpr std::string_view kHtml[] = {"HTML (StarWriter)", "HTML"};
inline constexpr std::string_view kXml2003[] = {"MS Word 2003 XML"};
inline constexpr std::string_view kWord2[] = {"MS WinWord 5"};
inline constexpr std::string_view kWordPerfect[] = {"WordPerfect"};
}  // namespace word_filters

constexpr std::string_view WordImportFilter(WordImport import, std::size_t index) {
    auto pick = [index](const auto& names) {
        return index < std::size(names) ? names[index] : std::string_view();
    };
    switch (import) {
        case WordImport::WordBinary:
            return pick(word_filters::kBinary);
        case WordImport::Ooxml:
            return pick(word_filters::kOoxml);
        case WordImport::Rtf:
            return pick(word_filters::kRtf);
        case WordImport::Html:
            return pick(word_filters::kHtml);
        case WordImport::Word2003Xml:
            return pick(word_filters::kXml2003);
        case WordImport::Word2:
            return pick(word_filters::kWord2);
        case WordImport::WordPerfect:
            return pick(word_filters::kWordPerfect);
        case WordImport::None:
            break;
    }
    return {};
}
std::vector<std::string> WordImportFilters(WordImport import);

InputVerdict CheckContent(const ByteSource& read, std::uint64_t totalSize);
InputVerdict CheckBytes(const std::string& bytes);
// The content of an open binary stream, read where the check needs it.
InputVerdict CheckStream(std::istream& in);

}  // namespace vellumor
