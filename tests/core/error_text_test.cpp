#include "core/error_text.h"

#include <gtest/gtest.h>

using namespace vellumor;

TEST(ApplicationTitle, ComesFromTheProgramFileName) {
    EXPECT_EQ(ApplicationTitle("C:\\Program Files\\Vellumor\\Vellumor.exe"), "Vellumor");
    EXPECT_EQ(ApplicationTitle("C:\\x\\VELLUMOR.EXE"), "Vellumor");
    EXPECT_EQ(ApplicationTitle("c:\\my.dir\\vellumor.test.exe"), "vellumor");
    EXPECT_EQ(ApplicationTitle("/opt/x/Vellumor.exe"), "Vellumor");
    EXPECT_EQ(ApplicationTitle(""), "");
}

TEST(ErrorBoxText, AppendsAFullStopOnlyAfterCharactersSortingAfterIt) {
    EXPECT_EQ(ErrorBoxText("Disk full"), "Disk full.");
    EXPECT_EQ(ErrorBoxText("Disk full."), "Disk full.");
    EXPECT_EQ(ErrorBoxText("Done!"), "Done!");
    EXPECT_EQ(ErrorBoxText("(code 5)"), "(code 5)");
    EXPECT_EQ(ErrorBoxText("ends in blank "), "ends in blank ");
    EXPECT_EQ(ErrorBoxText("path/"), "path/.");
    EXPECT_EQ(ErrorBoxText(""), "");
    // A non-ASCII last character sorts after "." byte-wise.
    EXPECT_EQ(ErrorBoxText("\xC3\xBC"), "\xC3\xBC.");
}

TEST(EngineFailureMessage, TrimsDescriptionAndFallsBack) {
    EXPECT_EQ(EngineFailureMessage("Cannot open file...\r\n \t", 0x80004005, "sys"),
              "Cannot open file");
    EXPECT_EQ(EngineFailureMessage(" . \r\n", 0x80004005, "Unspecified error\r\n"),
              "Unspecified error");
    EXPECT_EQ(EngineFailureMessage("", 0x80004005, "Unspecified error. "), "Unspecified error");
    EXPECT_EQ(EngineFailureMessage("", 0x8000ABCD, ""), "OLE error 8000ABCD");
    EXPECT_EQ(EngineFailureMessage("...", 0x1f, " "), "OLE error 0000001F");
    EXPECT_EQ(TrimFailureText("a.b. .\t"), "a.b");
}
