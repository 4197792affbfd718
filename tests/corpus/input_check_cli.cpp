// input-check FILE...: prints "file<TAB>kind<TAB>reason" for each file, as the workers would
// judge it before the office sees it. Exit status 0 unless a file cannot be opened.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "core/input_check.h"

namespace {

const char* KindName(vellumor::InputKind kind) {
    using vellumor::InputKind;
    switch (kind) {
        case InputKind::WordBinary:
            return "WordBinary";
        case InputKind::WordOoxml:
            return "WordOoxml";
        case InputKind::Rtf:
            return "Rtf";
        case InputKind::WordHtml:
            return "WordHtml";
        case InputKind::WordXml:
            return "WordXml";
        case InputKind::Word2:
            return "Word2";
        case InputKind::Refused:
            return "Refused";
        case InputKind::PlainText:
            return "PlainText";
        case InputKind::Encrypted:
            return "Encrypted";
        case InputKind::WordPerfect:
            return "WordPerfect";
        case InputKind::Unknown:
            return "Unknown";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::cerr << argv[i] << ": cannot be opened\n";
            status = 1;
            continue;
        }
        const auto verdict = vellumor::CheckStream(in);
        std::cout << argv[i] << '\t' << KindName(verdict.kind)
                  << (verdict.officeDetects ? " (the office detects)" : "") << '\t'
                  << verdict.reason << '\n';
    }
    return status;
}
