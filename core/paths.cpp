#include "core/paths.h"

namespace vellumor {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == ':';
}

// Index of the dot that starts the extension, or npos.
std::string_view::size_type ExtensionDot(std::string_view path) {
    for (auto i = path.size(); i-- > 0;) {
        if (path[i] == '.') return i;
        if (IsSeparator(path[i])) break;
    }
    return std::string_view::npos;
}

bool IsPosixSeparator(char c) {
    return c == '/';
}

std::string_view::size_type PosixExtensionDot(std::string_view path) {
    for (auto i = path.size(); i-- > 0;) {
        if (path[i] == '.') return i;
        if (IsPosixSeparator(path[i])) break;
    }
    return std::string_view::npos;
}

}  // namespace

std::string ExtensionOf(std::string_view path) {
    auto dot = ExtensionDot(path);
    if (dot == std::string_view::npos) return {};
    return LowerAscii(path.substr(dot));
}

std::string FileNameOf(std::string_view path) {
    return LastName(path, kWindowsSeparators);
}

int LoadFormatFor(std::string_view lowerExtension) {
    if (lowerExtension == ".doc") return kFormatDoc;
    if (lowerExtension == ".docx") return kFormatDocx;
    return 0;
}

std::string OutputPathFor(std::string_view sourcePath, std::string_view outputFolder,
                          OutputMode mode) {
    if (mode == OutputMode::OriginalPath) return std::string(sourcePath);
    std::string out(outputFolder);
    if (out.empty() || out.back() != '\\') out += '\\';
    out += FileNameOf(sourcePath);
    return out;
}

std::string PdfPathFor(std::string_view outputPath) {
    auto dot = ExtensionDot(outputPath);
    std::string out(outputPath.substr(0, dot == std::string_view::npos ? outputPath.size() : dot));
    out += ".pdf";
    return out;
}

std::string ExtensionOfPosix(std::string_view path) {
    auto dot = PosixExtensionDot(path);
    if (dot == std::string_view::npos) return {};
    return LowerAscii(path.substr(dot));
}

std::string FileNameOfPosix(std::string_view path) {
    return LastName(path, kPosixSeparators);
}

std::string OutputPathForPosix(std::string_view sourcePath, std::string_view outputFolder,
                               OutputMode mode) {
    if (mode == OutputMode::OriginalPath) return std::string(sourcePath);
    std::string out(outputFolder);
    if (out.empty() || out.back() != '/') out += '/';
    out += FileNameOfPosix(sourcePath);
    return out;
}

std::string PdfPathForPosix(std::string_view outputPath) {
    auto dot = PosixExtensionDot(outputPath);
    std::string out(outputPath.substr(0, dot == std::string_view::npos ? outputPath.size() : dot));
    out += ".pdf";
    return out;
}

}  // namespace vellumor
