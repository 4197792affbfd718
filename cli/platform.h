// What the command-line converter needs from the system: UTF-8 arguments and console output,
// the terminal, the environment, and the path rules of the platform. One implementation per
// platform (platform_posix.cpp, platform_win32.cpp); the rest of the program is shared.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/paths.h"
#include "batch/platform.h"

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

// Standard input as bytes: on Windows no line ends are changed and Ctrl+Z ends nothing.
void BinaryStandardInput();

// Size and modification time of a file, as a later run compares them: the engine's own.
using batch::FactsOf;
using batch::FileFacts;

// Which file a path leads to once links are followed: the same for every name of one file
// (device and inode; on Windows volume serial number and file index).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What a folder listing tells of an entry without a further look.
enum class ListedKind { File, Folder, Link, Unknown };
struct ListedEntry {
    std::string name;
    ListedKind kind = ListedKind::Unknown;
};
// The entries of a folder, "." and ".." left out. When the folder cannot be read (or its
// reading breaks off), error says why and the entries read until then are returned.
std::vector<ListedEntry> ListFolder(const std::string& folder, std::error_code& error);

// What a path leads to, links followed.
enum class EntryKind { File, Folder, Other, Dangling, Unreachable };
struct EntryFacts {
    EntryKind kind = EntryKind::Unreachable;
    bool link = false;      // the name itself is a symbolic link
    FileIdentity identity;  // of the file or folder it leads to
    std::error_code error;  // why it leads nowhere (Dangling, Unreachable)
};
EntryFacts Examine(const std::string& path);

// Where a symbolic link points, as written in the link; empty when that cannot be told.
std::string LinkTarget(const std::string& path);

// Opens the file for reading and closes it again: why it cannot be read, or no error.
std::error_code TryOpen(const std::string& path);

// A reason in plain words for a file system error: "permission denied", "no such file or
// folder", ...
std::string ReasonText(const std::error_code& error);

// The form of a file name under which the file system tells names apart: unchanged on POSIX,
// upper case on Windows.
std::string NameKey(const std::string& name);

// From the first call on, counts the user's interrupts: SIGINT and SIGTERM, on Windows Ctrl+C
// and Ctrl+Break. The handler only counts; Interrupts() reads the count.
void CatchInterrupts();
int Interrupts();

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
