// What the command-line converter needs from the system: UTF-8 arguments and console output,
// the terminal, the environment, and the path rules of the platform. One implementation per
// platform (platform_posix.cpp, platform_win32.cpp); the rest of the program is shared.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths.h"

namespace vellumor::cli {

// The command line as UTF-8 text, the program's name first. On Windows it is read again in
// UTF-16, since the narrow argv only holds what the ANSI code page can spell.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the console show UTF-8 output as such (a no-op where that is the default).
void PrepareConsole();

// Whether standard error is an interactive terminal, and its width in columns (80 when the
// width cannot be told).
bool StderrIsTerminal();
int TerminalWidth();
// Text that returns the cursor to the start of the current line and blanks it.
std::string ClearLineText();

// An environment variable as UTF-8; empty when it is not set.
std::string Environment(const char* name);

// The worker in the build tree, for a program run where it was built; empty if there is none.
std::string BuiltWorker();

// UTF-8 text to a path and back, losslessly on both platforms.
std::filesystem::path PathOf(const std::string& utf8);
std::string TextOf(const std::filesystem::path& path);

// Path text as the platform writes it: on Windows "/" becomes "\", the only separator the
// naming rules know there; elsewhere unchanged.
std::string NativeText(std::string path);

// The naming rules for this platform's paths: core's Windows rules there, the POSIX variants
// elsewhere.
#ifdef _WIN32
inline std::string FileNameOfPath(std::string_view path) {
    return FileNameOf(path);
}
inline std::string ExtensionOfPath(std::string_view path) {
    return ExtensionOf(path);
}
inline std::string OutputPathForPath(std::string_view source, std::string_view folder,
                                     OutputMode mode) {
    return OutputPathFor(source, folder, mode);
}
inline std::string PdfPathForPath(std::string_view output) {
    return PdfPathFor(output);
}
#else
inline std::string FileNameOfPath(std::string_view path) {
    return FileNameOfPosix(path);
}
inline std::string ExtensionOfPath(std::string_view path) {
    return ExtensionOfPosix(path);
}
inline std::string OutputPathForPath(std::string_view source, std::string_view folder,
                                     OutputMode mode) {
    return OutputPathForPosix(source, folder, mode);
}
inline std::string PdfPathForPath(std::string_view output) {
    return PdfPathForPosix(output);
}
#endif

}  // namespace vellumor::cli
