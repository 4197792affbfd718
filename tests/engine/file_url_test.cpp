// File URLs of the worker's paths.
#include "engine/worker/file_url.h"

#include <gtest/gtest.h>

using namespace vellumor::engine;

TEST(FileUrl, EscapesEverythingButUnreservedBytes) {
    EXPECT_EQ(FileUrlFromPath("/tmp/a b/100%#1?.docx"), "file:///tmp/a%20b/100%25%231%3F.docx");
    EXPECT_EQ(FileUrlFromPath("/t/\xC3\x9C.doc"), "file:///t/%C3%9C.doc");
    EXPECT_EQ(AbsolutePath("/x/y"), "/x/y");
    EXPECT_EQ(AbsolutePath("y").back(), 'y');
    EXPECT_EQ(AbsolutePath("y").front(), '/');
}
