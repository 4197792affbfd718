#include "core/inflate.h"
#include "core/word_pages.h"
#include "core/zip_archive.h"
#include "tests/support/compound_file_builder.h"
#include "tests/support/zip_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/corpus.h"

using namespace vellumor;
using namespace vellumor::test;

namespace {

std::string FromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// A raw deflate stream (dynamic Huffman codes, matches) of an app.xml that Word wrote, naming 31
// pages; <PagesX> after it must not be taken for it.
const std::string kDeflatedWordApp = FromHex(
    "4d90cb4ec3301045f77c45e47d6ba748a8a0892b0462c5a31241746b3993d452fc903d45eddf336951e8eede79"
    "dc39366c8e7eac7e3017174323eaa51215061b3b1786467cb52f8bb5a80a99d09931066cc4098bd8e81bd8e698"
    "3093c3527142288dd813a507298bdda33765c9edc09d3e666f886d1e64ec7b67f139da83c74072a5d49dc42361"
    "e8b05ba439506868d1a7d110eaf7697d5c76913cc8b90a6d2433b6cea3ae575c9f1d6ccd8045dfd6202f0abe63"
    "ee8a5e2ba5405e343ca6343a6b885facdf9ccdb1c49eaa8f335c35cd80bc1e0106fe447bc88e4e9a53ae2dbcba"
    "c057ea29fd2299209b219bb4670c3561cc169ea24f26f0969cd59972a7efff7877dcfbff59fd0b");
constexpr std::size_t kDeflatedWordAppSize = 414;

std::string Package(ZipMember app) {
    return ZipWithDirectory({{"[Content_Types].xml", "<Types/>"},
                             {"word/document.xml", "<w:document/>"},
                             std::move(app)});
}

int Pages(const std::string& bytes) {
    std::istringstream in(bytes);
    return RecordedWordPages(in);
}

std::string App(const std::string& application, const std::string& pages) {
    return "<Properties><Template>Normal</Template>" + pages + "<Application>" + application +
           "</Application></Properties>";
}

// The SummaryInformation property set of a Word binary: one section holding the page count
// (VT_I4) and the application's name (VT_LPSTR).
std::string SummaryInformation(std::int32_t pages, const std::string& application) {
    std::string set(48, '\0');
    Put16(set, 0, 0xFFFE);
    Put32(set, 24, 1);
    Put32(set, 44, 48);
    std::string section(8 + 16, '\0');
    std::string values;
    auto value = [&](std::uint32_t id, std::string bytes, int slot) {
        Put32(section, 8 + 8 * slot, id);
        Put32(section, 12 + 8 * slot, static_cast<std::uint32_t>(24 + values.size()));
        values += bytes;
    };
    std::string number(8, '\0');
    Put32(number, 0, 3);
    Put32(number, 4, static_cast<std::uint32_t>(pages));
    value(14, number, 0);
    std::string name(8, '\0');
    Put32(name, 0, 30);
    Put32(name, 4, static_cast<std::uint32_t>(application.size() + 1));
    name += application + '\0';
    name.resize((name.size() + 3) / 4 * 4, '\0');
    value(18, name, 1);
    Put32(section, 0, static_cast<std::uint32_t>(section.size() + values.size()));
    Put32(section, 4, 2);
    return set + section + values;
}

}  // namespace

TEST(Inflate, DecodesEachBlockTypeAndRefusesWhatDoesNotFit) {
    std::string out;
    ASSERT_TRUE(Inflate(reinterpret_cast<const unsigned char*>(kDeflatedWordApp.data()),
                        kDeflatedWordApp.size(), 1 << 20, out));
    EXPECT_EQ(out.size(), kDeflatedWordAppSize);
    EXPECT_NE(out.find("<Pages>31</Pages>"), std::string::npos);
    // Fixed codes, and a stored block.
    const std::string fixed = FromHex(
        "b309484c4f2db633b7d187306c1c0b0a723293134b32f3f3ec7c33938bf28bf3d34a14fcd3d232935315c2f38b"
        "526cf491950000");
    ASSERT_TRUE(
        Inflate(reinterpret_cast<const unsigned char*>(fixed.data()), fixed.size(), 1000, out));
    EXPECT_EQ(out, "<Pages>7</Pages><Application>Microsoft Office Word</Application>");
    const std::string stored = FromHex("011000efff3c50616765733e373c2f50616765733e");
    ASSERT_TRUE(
        Inflate(reinterpret_cast<const unsigned char*>(stored.data()), stored.size(), 16, out));
    EXPECT_EQ(out, "<Pages>7</Pages>");
    // Over the limit, cut short, or damaged: refused, never read past the data.
    EXPECT_FALSE(Inflate(reinterpret_cast<const unsigned char*>(kDeflatedWordApp.data()),
                         kDeflatedWordApp.size(), 100, out));
    for (std::size_t cut = 0; cut < kDeflatedWordApp.size(); cut += 7)
        EXPECT_FALSE(Inflate(reinterpret_cast<const unsigned char*>(kDeflatedWordApp.data()), cut,
                             1 << 20, out))
            << cut;
    const std::string reserved = FromHex("07");  // block type 3 does not exist
    EXPECT_FALSE(Inflate(reinterpret_cast<const unsigned char*>(reserved.data()), 1, 100, out));
}

TEST(RecordedWordPages, ReadsTheCountOfAPackageWordSavedLast) {
    EXPECT_EQ(Pages(Package({"docProps/app.xml", kDeflatedWordApp, 8, kDeflatedWordAppSize})), 31);
    EXPECT_EQ(Pages(Package({"docProps/app.xml", App("Microsoft Macintosh Word",
                                                     "<PagesX>9</PagesX><Pages> 4 </Pages>")})),
              4);
    // Part names compare without regard to case.
    EXPECT_EQ(
        Pages(Package({"docProps/App.xml", App("Microsoft Office Word", "<Pages>2</Pages>")})), 2);
}

TEST(RecordedWordPages, NoCountFromOtherProgramsOrDamagedParts) {
    EXPECT_EQ(Pages(Package({"docProps/app.xml", App("LibreOffice/7.4", "<Pages>3</Pages>")})), 0);
    EXPECT_EQ(Pages(Package({"docProps/app.xml", App("Microsoft Office Word", "")})), 0);
    EXPECT_EQ(
        Pages(Package({"docProps/app.xml", App("Microsoft Office Word", "<Pages>0</Pages>")})), 0);
    EXPECT_EQ(
        Pages(Package({"docProps/app.xml", App("Microsoft Office Word", "<Pages>-2</Pages>")})), 0);
    EXPECT_EQ(
        Pages(Package({"docProps/core.xml", App("Microsoft Office Word", "<Pages>3</Pages>")})), 0);
    EXPECT_EQ(Pages(Package(
                  {"docProps/app.xml", kDeflatedWordApp.substr(0, 100), 8, kDeflatedWordAppSize})),
              0);
    EXPECT_EQ(Pages(Package({"docProps/app.xml", "whatever", 12})), 0);  // bzip2: not read
    const std::string whole =
        Package({"docProps/app.xml", kDeflatedWordApp, 8, kDeflatedWordAppSize});
    for (std::size_t cut = 0; cut < whole.size(); cut += 13)
        EXPECT_EQ(Pages(whole.substr(0, cut)), 0);
    EXPECT_EQ(Pages("plain text, not a document"), 0);
}

TEST(RecordedWordPages, ReadsTheSummaryInformationOfAWordBinary) {
    auto binary = [](std::int32_t pages, const std::string& application) {
        return CompoundFileBuilder()
            .Stream(u"WordDocument", std::string(4096, '\0'))
            .Stream(u"\x0005SummaryInformation", SummaryInformation(pages, application))
            .Build();
    };
    EXPECT_EQ(Pages(binary(12, "Microsoft Office Word")), 12);
    EXPECT_EQ(Pages(binary(96, "Microsoft Word for Windows 95")), 96);
    EXPECT_EQ(Pages(binary(5, "Microsoft Excel")), 0);
    EXPECT_EQ(Pages(binary(0, "Microsoft Office Word")), 0);
    // A stream over the mini stream's cutoff lives in regular sectors.
    std::string big = SummaryInformation(7, "Microsoft Office Word");
    big.resize(5000, '\0');
    EXPECT_EQ(Pages(CompoundFileBuilder()
                        .Stream(u"WordDocument", std::string(512, '\0'))
                        .Stream(u"\x0005SummaryInformation", big)
                        .Build()),
              7);
    EXPECT_EQ(Pages(CompoundFileBuilder().Stream(u"WordDocument", std::string(512, '\0')).Build()),
              0);
}

TEST(RecordedWordPages, RealWordBinaries) {
    VELLUMOR_REQUIRE_CORPUS();
    auto pages = [](const char* name) {
        std::ifstream in(std::filesystem::path(VELLUMOR_CORPUS) / name, std::ios::binary);
        return RecordedWordPages(in);
    };
    EXPECT_EQ(pages("poi_DiffFirstPageHeadFoot.doc"), 2);
    EXPECT_EQ(pages("poi_Bug50955.doc"), 96);
    EXPECT_EQ(pages("poi_TestRobert_Flaherty.doc"), 0);  // the application names Excel
}

TEST(RecordedPunctuationCompression, ReadsWordsSettingOfAPackageInTheModeOfWord2013On) {
    const std::string mode15 =
        "<w:compat><w:compatSetting w:name=\"compatibilityMode\" "
        "w:uri=\"http://schemas.microsoft.com/office/word\" w:val=\"15\"/></w:compat>";
    auto compression = [](const std::string& settings) {
        std::istringstream in(
            ZipWithDirectory({{"word/document.xml", "<w:document/>"},
                              {"word/settings.xml", "<w:settings>" + settings + "</w:settings>"}}));
        return RecordedPunctuationCompression(in);
    };
    const std::string compress = "<w:characterSpacingControl w:val=\"compressPunctuation\"/>";
    EXPECT_EQ(compression(compress + mode15), 1);
    EXPECT_EQ(compression(mode15 + "<w:characterSpacingControl w:val=\"doNotCompress\"/>"), 0);
    EXPECT_EQ(
        compression(mode15 +
                    "<w:characterSpacingControl w:val=\"compressPunctuationAndJapaneseKana\"/>"),
        2);
    EXPECT_EQ(compression(mode15 + "<w:zoom w:percent=\"100\"/>"), -1);
    // Word 2007 and 2010 documents (mode 12, 14, or none written) keep the office's setting.
    EXPECT_EQ(compression(compress), -1);
    std::string mode14 = mode15;
    mode14.replace(mode14.find("\"15\""), 4, "\"14\"");
    EXPECT_EQ(compression(compress + mode14), -1);
    std::istringstream binary(
        CompoundFileBuilder().Stream(u"WordDocument", std::string(512, '\0')).Build());
    EXPECT_EQ(RecordedPunctuationCompression(binary), -1);
}
