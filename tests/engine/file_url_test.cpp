// File URLs of the worker's paths, and the page count of the PDFs it writes.
#include "engine/worker/file_url.h"
#include "engine/worker/pdf_pages.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

using namespace vellumor::engine;

TEST(FileUrl, EscapesEverythingButUnreservedBytes) {
    EXPECT_EQ(FileUrlFromPath("/tmp/a b/100%#1?.docx"), "file:///tmp/a%20b/100%25%231%3F.docx");
    EXPECT_EQ(FileUrlFromPath("/t/\xC3\x9C.doc"), "file:///t/%C3%9C.doc");
    EXPECT_EQ(AbsolutePath("/x/y"), "/x/y");
    EXPECT_EQ(AbsolutePath("y").back(), 'y');
    EXPECT_EQ(AbsolutePath("y").front(), '/');
}

TEST(PdfPageCount, IsTheLargestPageTreeCount) {
    char name[] = "/tmp/vellumor-pages-test-XXXXXX";
    close(mkstemp(name));
    std::ofstream(name, std::ios::binary)
        << "%PDF-1.6\n1 0 obj<</Type/Pages/Kids[2 0 R]/Count 12>>endobj\n"
           "2 0 obj<</Type/Pages/Parent 1 0 R/Count 5/Kids[]>>endobj\n"
           "3 0 obj<</Type/Page/Count 99>>endobj\n";
    EXPECT_EQ(PdfPageCount(name), 12);
    unlink(name);
    EXPECT_EQ(PdfPageCount(name), 0);
}
