#include "core/progress.h"

#include <gtest/gtest.h>

using namespace vellumor;

TEST(ProgressEstimate, ThePaceIsToldAfterAFewDocumentsAndCountsFromTheRunsStart) {
    ProgressEstimate estimate(10);
    // The office's start is part of the wait: the first documents end late.
    estimate.Ended(2);
    estimate.Ended(3);
    EXPECT_EQ(estimate.Rate(3), 0);
    EXPECT_LT(estimate.SecondsLeft(3), 0);
    estimate.Ended(4);
    EXPECT_DOUBLE_EQ(estimate.Rate(4), 0.75);
    EXPECT_DOUBLE_EQ(estimate.SecondsLeft(4), 7 / 0.75);
    // Nothing ends for a while (a long document): the pace drops, the time left grows.
    EXPECT_DOUBLE_EQ(estimate.Rate(6), 0.5);
    EXPECT_DOUBLE_EQ(estimate.SecondsLeft(6), 14);
}

TEST(ProgressEstimate, OnlyTheRecentDocumentsSetThePaceOnceThereAreEnough) {
    ProgressEstimate estimate(200);
    double at = 0;
    for (int i = 0; i < 60; ++i) estimate.Ended(at += 1);    // a slow start, one a second
    for (int i = 0; i < 50; ++i) estimate.Ended(at += 0.1);  // then ten a second
    EXPECT_NEAR(estimate.Rate(at), 10, 1e-9);
    EXPECT_NEAR(estimate.SecondsLeft(at), 90 / 10.0, 1e-9);
}

TEST(ProgressEstimate, NothingIsLeftOnceEveryDocumentEnded) {
    ProgressEstimate estimate(3);
    for (double at : {1.0, 1.0, 1.0}) estimate.Ended(at);
    EXPECT_DOUBLE_EQ(estimate.Rate(1), 3);
    EXPECT_EQ(estimate.SecondsLeft(1), 0);
    // Documents that all end at the run's first instant tell no pace.
    ProgressEstimate instant(5);
    for (int i = 0; i < 3; ++i) instant.Ended(0);
    EXPECT_EQ(instant.Rate(0), 0);
    EXPECT_LT(instant.SecondsLeft(0), 0);
}

TEST(Progress, DurationsReadAsAClock) {
    EXPECT_EQ(DurationText(0), "0:00");
    EXPECT_EQ(DurationText(42.4), "0:42");
    EXPECT_EQ(DurationText(59.6), "1:00");
    EXPECT_EQ(DurationText(258), "4:18");
    EXPECT_EQ(DurationText(3723), "1:02:03");
    EXPECT_EQ(DurationText(-5), "0:00");
}

TEST(Progress, TheLineShowsThePaceWhenKnownAndNeverFillsTheTerminalsWidth) {
    ProgressCounts counts;
    counts.done = 120;
    counts.total = 1000;
    counts.converted = 118;
    counts.failed = 2;
    std::string early = ProgressLine(counts, "a.docx", 120);
    EXPECT_EQ(early.find("documents/s"), std::string::npos) << early;
    EXPECT_EQ(early.find("left"), std::string::npos) << early;

    counts.rate = 3.44;
    counts.secondsLeft = 258;
    std::string line = ProgressLine(counts, "a.docx", 120);
    EXPECT_EQ(line,
              "[###---------------------------] 120/1000  118 converted, 2 failed  3.4 documents/s"
              "  4:18 left a.docx");
    counts.rate = 0.25;
    EXPECT_NE(ProgressLine(counts, "", 120).find(" 0.25 documents/s"), std::string::npos);

    const std::string longName(300, 'n');
    EXPECT_EQ(ProgressLine(counts, "a.docx", 0), "");
    for (int width = 1; width <= 200; ++width) {
        for (const std::string& name : {std::string(), std::string("a.docx"), longName}) {
            std::string shown = ProgressLine(counts, name, width);
            EXPECT_LT(static_cast<int>(shown.size()), width) << shown;
            if (width >= 100) {
                EXPECT_NE(shown.find("left"), std::string::npos) << shown;
            }
        }
    }
    // The bar keeps its width whatever the name; a long name is cut between characters.
    std::string accented = "R\xC3\xA9sum\xC3\xA9 ";
    for (int i = 0; i < 50; ++i) accented += "\xC3\xA9";
    for (int width : {120, 121}) {
        std::string withName = ProgressLine(counts, accented, width);
        EXPECT_EQ(withName.find(']'), ProgressLine(counts, "", width).find(']'));
        ASSERT_EQ(withName.substr(withName.size() - 3), "...") << withName;
        EXPECT_EQ(withName[withName.size() - 4], '\xA9') << withName;
        EXPECT_EQ(withName.substr(withName.find("left ") + 5, 9), "R\xC3\xA9sum\xC3\xA9 ");
    }
    // On 80 columns the counts and the pace stay; the name goes before the bar does.
    std::string narrow = ProgressLine(counts, longName, 80);
    EXPECT_EQ(narrow.front(), '[');
    EXPECT_NE(narrow.find("4:18 left"), std::string::npos) << narrow;
    EXPECT_EQ(narrow.find("nnnn"), std::string::npos) << narrow;
}
