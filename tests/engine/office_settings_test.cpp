// The office settings file: the shipped one reads and guards documents, and a damaged one is
// refused with the file and the line named, never half-applied.
#include "engine/worker/office_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

using namespace vellumor::engine;

namespace {

std::string WriteTemp(const std::string& text) {
    char name[] = "/tmp/vellumor-settings-test-XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    std::ofstream(name, std::ios::binary) << text;
    return name;
}

std::string ErrorReading(const std::string& text) {
    const std::string file = WriteTemp(text);
    std::vector<OfficeSetting> settings;
    std::string error;
    EXPECT_FALSE(ReadOfficeSettings(file, settings, error)) << text;
    EXPECT_TRUE(settings.empty());
    unlink(file.c_str());
    const std::string named = "the office settings file " + file + " ";
    EXPECT_EQ(error.rfind(named, 0), 0u) << error;
    return error.rfind(named, 0) == 0 ? error.substr(named.size()) : error;
}

}  // namespace

TEST(OfficeSettings, TheShippedFileForbidsMacrosAndLinksAndReplacesWordsFonts) {
    std::vector<OfficeSetting> settings;
    std::string error;
    ASSERT_TRUE(ReadOfficeSettings(VELLUMOR_OFFICE_SETTINGS, settings, error)) << error;
    auto has = [&](const std::string& path, const std::string& name, const std::string& value) {
        for (const auto& s : settings)
            if (s.path == path && s.name == name && s.value == value) return s.onWindows ? 1 : 2;
        return 0;
    };
    const std::string scripting = "/org.openoffice.Office.Common/Security/Scripting";
    EXPECT_EQ(has(scripting, "DisableMacrosExecution", "true"), 1);
    EXPECT_EQ(has(scripting, "BlockUntrustedRefererLinks", "true"), 1);
    EXPECT_EQ(has("/org.openoffice.Office.Writer/Filter/Import/VBA", "Load", "false"), 1);
    EXPECT_EQ(has("/org.openoffice.Office.Writer/Content/Update", "Link", "0"), 1);
    // Font replacements apply off Windows only, where Word's fonts are missing.
    const std::string simsun = "/org.openoffice.Office.Common/Font/Substitution/FontPairs['宋体']";
    EXPECT_EQ(has(simsun, "SubstituteFont", "AR PL SungtiL GB"), 2);
    EXPECT_EQ(has("/org.openoffice.Office.Common/Font/Substitution/FontPairs['MS Mincho']",
                  "ReplaceFont", "MS Mincho"),
              2);
}

TEST(OfficeSettings, ASetMemberIsOneNodeAndOtherSettingsAreItemsOfTheirOwn) {
    const std::string file = WriteTemp(
        "# comment\n\n[/a/B]\nX = 1\nY = a <b> & \"c\"\r\n"
        "[/a/Pairs['M S']] not-windows\nReplaceFont = M S\nAlways = true\n[/a/C]\nZ =\n");
    std::vector<OfficeSetting> settings;
    std::string error;
    ASSERT_TRUE(ReadOfficeSettings(file, settings, error)) << error;
    unlink(file.c_str());
    ASSERT_EQ(settings.size(), 5u);
    EXPECT_EQ(settings[1].value, "a <b> & \"c\"");
    EXPECT_FALSE(settings[2].onWindows);
    EXPECT_TRUE(settings[4].onWindows);
    const std::string text = ProfileSettingsText(settings);
    const std::string prop = "\" oor:op=\"fuse\"><value>";
    EXPECT_NE(
        text.find("\n<item oor:path=\"/a/B\"><prop oor:name=\"X" + prop +
                  "1</value></prop></item>\n<item oor:path=\"/a/B\"><prop oor:name=\"Y" + prop +
                  "a &lt;b&gt; &amp; &quot;c&quot;</value></prop></item>\n"
                  "<item oor:path=\"/a/Pairs\"><node oor:name=\"M S\" oor:op=\"replace\">"
                  "<prop oor:name=\"ReplaceFont" +
                  prop + "M S</value></prop><prop oor:name=\"Always" + prop +
                  "true</value></prop></node></item>\n<item oor:path=\"/a/C\">"
                  "<prop oor:name=\"Z" +
                  prop + "</value></prop></item>\n</oor:items>\n"),
        std::string::npos)
        << text;
}

TEST(OfficeSettings, AMissingOrDamagedFileIsRefusedNamingTheFileAndLine) {
    std::vector<OfficeSetting> settings;
    std::string error;
    EXPECT_FALSE(ReadOfficeSettings("/nonexistent/office_settings.ini", settings, error));
    EXPECT_EQ(error,
              "the office settings file /nonexistent/office_settings.ini cannot be read: No such "
              "file or directory");
    EXPECT_EQ(ErrorReading("X = 1\n"),
              "is damaged at line 1: a setting comes after the [/path] of its node");
    EXPECT_EQ(ErrorReading("[/a]\nFirstRun false\n"),
              "is damaged at line 2: a setting reads Name = value");
    EXPECT_EQ(ErrorReading("[/a]\nFirst Run = false\n"),
              "is damaged at line 2: a setting reads Name = value");
    EXPECT_EQ(ErrorReading("# x\n[/a] windows\n"),
              "is damaged at line 2: a node is named as [/path] or [/path] not-windows");
    EXPECT_EQ(ErrorReading("[a]\n"),
              "is damaged at line 1: a node is named as [/path] or [/path] not-windows");
    EXPECT_EQ(ErrorReading("# only a comment\n"), "holds no settings");
}
