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

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string ExtensionOf(std::string_view path) {
    auto dot = ExtensionDot(path);
    if (dot == std::string_view::npos) return {};
    return LowerAscii(path.substr(dot));
}

std::string FileNameOf(std::string_view path) {
    for (auto i = path.size(); i-- > 0;) {
        if (IsSeparator(path[i])) return std::string(path.substr(i + 1));
    }
    return std::string(path);
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
    auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
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
