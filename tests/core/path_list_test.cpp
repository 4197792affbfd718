#include "core/path_list.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace vellumor;
using namespace std::string_literals;
using Paths = std::vector<std::string>;

namespace {
Paths Split(const std::string& text, PathListFormat format) {
    Paths paths;
    std::string error;
    EXPECT_TRUE(SplitPathList(text, format, paths, error)) << error;
    return paths;
}
}  // namespace

TEST(PathList, TextListsHoldOnePathALineAndKeepEverythingButTheLineEnd) {
    // CRLF lines of a Windows export, blank lines, a last line without its newline; spaces are
    // parts of names.
    EXPECT_EQ(Split("a.docx\r\n\n b c.doc \nlast.docx", PathListFormat::Lines),
              (Paths{"a.docx", " b c.doc ", "last.docx"}));
    // A byte order mark is dropped at the start only.
    EXPECT_EQ(Split("\xEF\xBB\xBF"
                    "a.doc\n\xEF\xBB\xBF"
                    "b.doc\n",
                    PathListFormat::Lines),
              (Paths{"a.doc",
                     "\xEF\xBB\xBF"
                     "b.doc"}));
    EXPECT_EQ(Split("", PathListFormat::Lines), Paths{});
    EXPECT_EQ(Split("\n\r\n", PathListFormat::Lines), Paths{});
}

TEST(PathList, NulSeparatedListsKeepNewlinesCarriageReturnsAndMarksInNames) {
    EXPECT_EQ(Split("two\nlines.docx\0cr\r\0\0\xEF\xBB\xBF"
                    "x.doc\0no end"s,
                    PathListFormat::NulSeparated),
              (Paths{"two\nlines.docx", "cr\r",
                     "\xEF\xBB\xBF"
                     "x.doc",
                     "no end"}));
    EXPECT_EQ(Split("\0\0"s, PathListFormat::NulSeparated), Paths{});
}

TEST(PathList, AListReadAsTextThatHoldsNulBytesIsRefusedAndAddsNothing) {
    Paths paths{"from the command line"};
    std::string error;
    EXPECT_FALSE(SplitPathList("a.docx\nb.docx\0c.docx\0"s, PathListFormat::Lines, paths, error));
    EXPECT_EQ(paths, Paths{"from the command line"});
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_NE(error.find("-0"), std::string::npos) << error;
}

TEST(PathList, ReadingAStreamAppendsAfterThePathsThereAlready) {
    Paths paths{"first.docx"};
    std::string error;
    std::istringstream list("a\0b\0"s);
    ASSERT_TRUE(ReadPathList(list, PathListFormat::NulSeparated, paths, error)) << error;
    EXPECT_EQ(paths, (Paths{"first.docx", "a", "b"}));
}
