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
        case InputKind::PasswordProtected:
            return "PasswordProtected";
        case InputKind::PlainText:
            return "PlainText";
        case InputKind::Encrypted:
            return "Encrypted";
        case InputKind::WordPerfect:
            return "WordPerfect";
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
        in.seekg(0, std::ios::end);
        const auto size = static_cast<std::uint64_t>(in.tellg());
        vellumor::ByteSource source = [&in](std::uint64_t offset, void* buffer,
                                            std::size_t bytes) -> std::size_t {
            in.clear();
            in.seekg(static_cast<std::streamoff>(offset));
            if (!in) return 0;
            in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(bytes));
            return static_cast<std::size_t>(in.gcount());
        };
        const auto verdict = vellumor::CheckContent(source, size);
        std::cout << argv[i] << '\t' << KindName(verdict.kind) << '\t' << verdict.reason << '\n';
    }
    return status;
}
