#include "core/input_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>


using namespace vellumor;

namespace {

std::string Corpus(const std::string& name) {
    std::ifstream in(std::filesystem::path(VELLUMOR_CORPUS) / std::filesystem::u8path(name),
                     std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(InputCheck, AcceptsWhatWordOpens) {
    EXPECT_EQ(CheckBytes(Corpus("poi_58067.docx")).kind, InputKind::WordOoxml);
    EXPECT_EQ(CheckBytes(Corpus("poi_footnote.doc")).kind, InputKind::WordBinary);
    EXPECT_EQ(CheckBytes(Corpus("poi_Word95.doc")).kind, InputKind::WordBinary);
    EXPECT_EQ(CheckBytes(Corpus("cn.orthodox.www_divenbog_APRIL_30-APRIL.DOC")).kind,
              InputKind::WordBinary);
    EXPECT_EQ(CheckBytes(Corpus("poi_word2.doc")).kind, InputKind::Word2);
    EXPECT_EQ(CheckBytes(Corpus("tika_testWORDML_tableInsideParagraph.doc")).kind,
              InputKind::WordXml);
    // A truncated archive still names its Word parts; the office decides.
    EXPECT_EQ(CheckBytes(Corpus("poi_truncated62886.docx")).kind, InputKind::WordOoxml);
    EXPECT_EQ(CheckBytes("{\\rtf1\\ansi hello}").kind, InputKind::Rtf);
    EXPECT_EQ(CheckBytes("\xEF\xBB\xBF  <html><body>x</body></html>").kind, InputKind::WordHtml);
    EXPECT_EQ(CheckBytes("MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=x\r\n"
                         "\r\n--x\r\nContent-Type: text/html\r\n")
                  .kind,
              InputKind::WordHtml);
}

TEST(InputCheck, RefusesWhatIsNotAWordDocument) {
    auto refused = [](const std::string& bytes, const std::string& phrase) {
        auto v = CheckBytes(bytes);
        EXPECT_EQ(v.kind, InputKind::Refused);
        EXPECT_NE(v.reason.find(phrase), std::string::npos) << v.reason;
    };
    refused("", "empty");
    refused("Dear reader,\nthis is only text.\n", "plain text");
    refused("<?xml version=\"1.0\"?><svg/>", "not a Word document");
    refused(Corpus("poi_TestRobert_Flaherty.doc"), "Excel workbook");
    std::mt19937 random(42);
    std::string noise(100000, '\0');
    for (auto& c : noise) c = static_cast<char>(random());
    refused(noise, "not a Word document");
    // A compound file cut short is not read past its end.
    refused(Corpus("poi_footnote.doc").substr(0, 1000), "damaged");
    refused(std::string("PK\x03\x04", 4) + std::string(100, 'x'), "zip archive");
}

TEST(InputCheck, EncryptedDocumentsArePasswordProtected) {
    EXPECT_EQ(CheckBytes(Corpus("poi_bug53475-password-is-pass.docx")).kind,
              InputKind::PasswordProtected);
    EXPECT_EQ(CheckBytes(Corpus("poi_password_tika_binaryrc4.doc")).kind,
              InputKind::PasswordProtected);
}
