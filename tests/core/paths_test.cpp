#include "core/paths.h"

#include <gtest/gtest.h>

using namespace vellumor;

TEST(Paths, ExtensionIsLowerCasedAsciiOnlyAndStopsAtSeparators) {
    EXPECT_EQ(ExtensionOf("C:\\Docs\\A.DOC"), ".doc");
    EXPECT_EQ(ExtensionOf("B.DocX"), ".docx");
    EXPECT_EQ(ExtensionOf("report.final.docx"), ".docx");
    EXPECT_EQ(ExtensionOf("C:\\my.docs\\a"), "");
    EXPECT_EQ(ExtensionOf("C:\\my.docs\\a.docx"), ".docx");
    EXPECT_EQ(ExtensionOf("C:a"), "");
    EXPECT_EQ(ExtensionOf("C.x:a"), "");
    EXPECT_EQ(ExtensionOf("name."), ".");
    // Non-ASCII letters keep their bytes: "Ä" is not folded into "ä".
    EXPECT_EQ(ExtensionOf("x.DOC\xC3\x84"), ".doc\xC3\x84");
}

TEST(Paths, LoadFormatsMatchExactExtensionsOnly) {
    EXPECT_EQ(LoadFormatFor(ExtensionOf("A.DOC")), 9);
    EXPECT_EQ(LoadFormatFor(ExtensionOf("B.DocX")), 13);
    EXPECT_EQ(LoadFormatFor(ExtensionOf("a.docm")), 0);
    EXPECT_EQ(LoadFormatFor(ExtensionOf("b.doc.bak")), 0);
    EXPECT_EQ(LoadFormatFor(ExtensionOf("noext")), 0);
}

TEST(Paths, FileNameIsAfterLastBackslashOrColon) {
    EXPECT_EQ(FileNameOf("C:\\Docs\\a.docx"), "a.docx");
    EXPECT_EQ(FileNameOf("C:a.docx"), "a.docx");
    EXPECT_EQ(FileNameOf("a.docx"), "a.docx");
    EXPECT_EQ(FileNameOf("C:\\Docs\\"), "");
}

// The one rule every "name of a path" helper is built on: the name starts after the last of the
// separators asked for, and what comes before it (separator included) is the folder.
TEST(Paths, NameStartSplitsFolderAndNameAtTheLastSeparatorAskedFor) {
    EXPECT_EQ(NameStart("C:\\Docs\\a.docx", kWindowsSeparators), 8u);
    EXPECT_EQ(NameStart("a.docx", kWindowsSeparators), 0u);
    EXPECT_EQ(NameStart("", kPosixSeparators), 0u);
    EXPECT_EQ(NameStart("/x/", kPosixSeparators), 3u);
    EXPECT_EQ(LastName("C:\\x/y:z\\n.doc", "/"), "y:z\\n.doc");
    EXPECT_EQ(LastName("C:\\x/y:z\\n.doc", "\\/:"), "n.doc");
    EXPECT_EQ(LastName("C:\\x\\y/n.doc", kWindowsSeparators), "y/n.doc");
    EXPECT_EQ(LastName("/x/", kPosixSeparators), "");
}

TEST(Paths, SettingPathJoinsFolderWithoutDoublingBackslash) {
    const auto mode = OutputMode::SettingPath;
    EXPECT_EQ(PdfPathFor(OutputPathFor("C:\\Docs\\a.docx", "D:\\Output", mode)),
              "D:\\Output\\a.pdf");
    EXPECT_EQ(PdfPathFor(OutputPathFor("C:\\Docs\\a.docx", "D:\\Output\\", mode)),
              "D:\\Output\\a.pdf");
    EXPECT_EQ(OutputPathFor("C:\\Docs\\a.docx", "D:\\Output", mode), "D:\\Output\\a.docx");
    // An empty folder does not end in "\": the PDF goes to the root of the current drive.
    EXPECT_EQ(PdfPathFor(OutputPathFor("C:\\Docs\\a.docx", "", mode)), "\\a.pdf");
    // Two sources of the same name meet in one PDF path.
    EXPECT_EQ(PdfPathFor(OutputPathFor("C:\\A\\x.doc", "D:\\Output", mode)),
              PdfPathFor(OutputPathFor("C:\\B\\x.docx", "D:\\Output", mode)));
}

TEST(Paths, OriginalPathKeepsSourceFolder) {
    const auto mode = OutputMode::OriginalPath;
    EXPECT_EQ(OutputPathFor("C:\\Docs\\a.docx", "D:\\Output", mode), "C:\\Docs\\a.docx");
    EXPECT_EQ(PdfPathFor(OutputPathFor("C:\\Docs\\a.docx", "D:\\Output", mode)), "C:\\Docs\\a.pdf");
    EXPECT_EQ(PdfPathFor("C:\\my.docs\\report.final.DOCX"), "C:\\my.docs\\report.final.pdf");
    EXPECT_EQ(PdfPathFor("C:\\my.docs\\noext"), "C:\\my.docs\\noext.pdf");
    EXPECT_EQ(PdfPathFor("C:\\\\a.doc"), "C:\\\\a.pdf");
}

TEST(Paths, PosixVariantSeparatesOnlyAtSlashes) {
    EXPECT_EQ(ExtensionOfPosix("/home/u/my.docs/A.DOCX"), ".docx");
    EXPECT_EQ(ExtensionOfPosix("/home/my.docs/a"), "");
    // Backslashes and colons are ordinary characters in POSIX names.
    EXPECT_EQ(ExtensionOfPosix("/x/a\\b.doc"), ".doc");
    EXPECT_EQ(FileNameOfPosix("/x/a\\b:c.doc"), "a\\b:c.doc");
    EXPECT_EQ(FileNameOfPosix("a.doc"), "a.doc");
    EXPECT_EQ(OutputPathForPosix("/docs/a.docx", "/out", OutputMode::SettingPath), "/out/a.docx");
    EXPECT_EQ(OutputPathForPosix("/docs/a.docx", "/out/", OutputMode::SettingPath), "/out/a.docx");
    EXPECT_EQ(OutputPathForPosix("/docs/a.docx", "", OutputMode::SettingPath), "/a.docx");
    EXPECT_EQ(OutputPathForPosix("/docs/a.docx", "/out", OutputMode::OriginalPath), "/docs/a.docx");
    EXPECT_EQ(PdfPathForPosix("/out/report.final.docx"), "/out/report.final.pdf");
    EXPECT_EQ(PdfPathForPosix("/my.docs/README"), "/my.docs/README.pdf");
}
