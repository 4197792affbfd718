// The real documents beside the repository (VELLUMOR_CORPUS, ../shared/corpus by default). A
// clone without them still runs every other test; the ones that read them skip with one line.
#pragma once

#include <filesystem>

#include <gtest/gtest.h>

#define VELLUMOR_REQUIRE_CORPUS()                                                       \
    if (!std::filesystem::exists(std::filesystem::path(VELLUMOR_CORPUS) / "README.md")) \
    GTEST_SKIP() << "needs the real documents of ../shared/corpus, which are not at "   \
                 << VELLUMOR_CORPUS
