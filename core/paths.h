// Path rules shared by the file list, the conversion run and the command-line converter.
// Paths are UTF-8 text in Windows form; only "\" and ":" separate a name from its folder,
// as the program sees paths the way Windows hands them over.
#pragma once

#include "core/engine_codes.h"
#include "core/text.h"

#include <string>
#include <string_view>

namespace vellumor {

enum class OutputMode { SettingPath, OriginalPath };

// The characters that end a folder's part of a path: "\" and ":" in the Windows form, "/" in the
// POSIX form.
inline constexpr std::string_view kWindowsSeparators = "\\:";
inline constexpr std::string_view kPosixSeparators = "/";

// The text from the last "." to the end, provided no "\" or ":" follows that dot; otherwise
// empty. Lower-cased with LowerAscii.
std::string ExtensionOf(std::string_view path);

// The part of a path after its last "\" or ":".
std::string FileNameOf(std::string_view path);

// Load format code for a lower-cased extension: 9 for ".doc", 13 for ".docx", 0 for anything else.
int LoadFormatFor(std::string_view lowerExtension);

// The output path before its extension changes. "Setting Path": the folder, a "\" unless the
// folder already ends in one (an empty folder does not), and the source's file name.
// "Original Path": the source path itself.
std::string OutputPathFor(std::string_view sourcePath, std::string_view outputFolder,
                          OutputMode mode);

// The output path with the part from its last "." (after the last "\" or ":") replaced by ".pdf";
// a path without such a dot gets ".pdf" appended.
std::string PdfPathFor(std::string_view outputPath);

// The same rules for POSIX paths, where only "/" separates a name from its folder; the
// command-line converter uses them on Linux.
std::string ExtensionOfPosix(std::string_view path);
std::string FileNameOfPosix(std::string_view path);
std::string OutputPathForPosix(std::string_view sourcePath, std::string_view outputFolder,
                               OutputMode mode);
std::string PdfPathForPosix(std::string_view outputPath);

}  // namespace vellumor
