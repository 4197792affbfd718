#include "core/list_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vellumor;

namespace {
std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::stable_sort(v.begin(), v.end(),
                     [](const auto& a, const auto& b) { return CompareListText(a, b) < 0; });
    return v;
}
}  // namespace

TEST(CompareListText, FoldsOnlyAsciiLettersAndUsesTheFirstDifference) {
    EXPECT_EQ(CompareListText("A.doc", "a.doc"), 0);
    EXPECT_EQ(CompareListText("b", "_"), 'B' - '_');
    EXPECT_LT(CompareListText("b.doc", "_x.doc"), 0);
    // Bytes above 127 are not folded and compare unsigned.
    EXPECT_NE(CompareListText("\xC3\xA4", "\xC3\x84"), 0);
    EXPECT_GT(CompareListText("\xC3\xA4", "z"), 0);
}

TEST(CompareListText, APrefixSortsFirstByLength) {
    EXPECT_EQ(CompareListText("abc", "ABCDE"), -2);
    EXPECT_EQ(CompareListText("abcde", "ABC"), 2);
    EXPECT_EQ(CompareListText("", ""), 0);
}

TEST(CompareListText, SizesAndNamesSortAsText) {
    EXPECT_EQ(Sorted({"20KB", "100KB", "3KB"}), (std::vector<std::string>{"100KB", "20KB", "3KB"}));
    EXPECT_EQ(Sorted({"_x.doc", "b.doc", "A.doc"}),
              (std::vector<std::string>{"A.doc", "b.doc", "_x.doc"}));
}
