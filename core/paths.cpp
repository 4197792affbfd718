#include "core/paths.h"

namespace vellumor {

namespace {

// The Windows and the POSIX rules differ only in their separators, and in the one put between
// a folder and a name.

// Index of the dot that starts the extension (the last "." of the last name), or npos.
std::string_view::size_type ExtensionDot(std::string_view path, std::string_view separators) {
    const auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos || dot < NameStart(path, separators))
        return std::string_view::npos;
    return dot;
}

std::string Extension(std::string_view path, std::string_view separators) {
    const auto dot = ExtensionDot(path, separators);
    if (dot == std::string_view::npos) return {};
    return LowerAscii(path.substr(dot));
}

std::string OutputPath(std::string_view sourcePath, std::string_view outputFolder, OutputMode mode,
                       std::string_view separators, char joiner) {
    if (mode == OutputMode::OriginalPath) return std::string(sourcePath);
    std::string out(outputFolder);
    if (out.empty() || out.back() != joiner) out += joiner;
    out += LastName(sourcePath, separators);
    return out;
}

std::string PdfPath(std::string_view outputPath, std::string_view separators) {
    const auto dot = ExtensionDot(outputPath, separators);
    std::string out(outputPath.substr(0, dot == std::string_view::npos ? outputPath.size() : dot));
    out += ".pdf";
    return out;
}

}  // namespace

std::string ExtensionOf(std::string_view path) {
    return Extension(path, kWindowsSeparators);
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
    return OutputPath(sourcePath, outputFolder, mode, kWindowsSeparators, '\\');
}

std::string PdfPathFor(std::string_view outputPath) {
    return PdfPath(outputPath, kWindowsSeparators);
}

std::string ExtensionOfPosix(std::string_view path) {
    return Extension(path, kPosixSeparators);
}

std::string FileNameOfPosix(std::string_view path) {
    return LastName(path, kPosixSeparators);
}

std::string OutputPathForPosix(std::string_view sourcePath, std::string_view outputFolder,
                               OutputMode mode) {
    return OutputPath(sourcePath, outputFolder, mode, kPosixSeparators, '/');
}

std::string PdfPathForPosix(std::string_view outputPath) {
    return PdfPath(outputPath, kPosixSeparators);
}

}  // namespace vellumor
