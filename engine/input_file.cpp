#include "engine/input_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/input_check.h"
#include "core/paths.h"

#ifdef _WIN32
#include <windows.h>

#include "win32/long_path.h"
#endif

namespace fs = std::filesystem;

namespace vellumor {

std::string DisplayNameOf(const std::string& path) {
#ifdef _WIN32
    return LastName(path, "\\/:");
#else
    return LastName(path, kPosixSeparators);
#endif
}

void CheckLoadFormat(const std::string& path, int format) {
    if (format != kFormatDoc && format != kFormatDocx)
        throw EngineError(EngineFailure::BadRequest, "Cannot convert " + DisplayNameOf(path) +
                                                         ": unknown load format " +
                                                         std::to_string(format));
}

void CheckSaveFormat(const std::string& path, int format) {
    if (format != kFormatPdf)
        throw EngineError(EngineFailure::BadRequest, "Cannot save " + DisplayNameOf(path) +
                                                         ": unknown save format " +
                                                         std::to_string(format));
}

InputVerdict CheckInputFile(const std::string& path) {
    const std::string name = DisplayNameOf(path);
    auto fail = [&](EngineFailure failure, const std::string& reason) {
        throw EngineError(failure, "Cannot convert " + name + ": " + reason);
    };
#ifdef _WIN32
    // The wide name, in its "\\?\" form beyond MAX_PATH, which the C runtime's stat refuses.
    const std::wstring wide = win::LongPath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail(EngineFailure::NotFound, GetLastError() == ERROR_ACCESS_DENIED
                                          ? "cannot open it: permission denied"
                                          : "cannot open it: no such file");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) fail(EngineFailure::NotFound, "it is a folder");
    const fs::path file(wide);
#else
    const fs::path file = fs::u8path(path);
    std::error_code ec;
    auto status = fs::status(file, ec);
    if (ec || !fs::exists(status))
        fail(EngineFailure::NotFound,
             "cannot open it: " + (ec ? ec.message() : std::string("no such file")));
    if (fs::is_directory(status)) fail(EngineFailure::NotFound, "it is a folder");
#endif
    std::ifstream in(file, std::ios::binary);
    if (!in) fail(EngineFailure::NotFound, "cannot open it: it cannot be read");
    const InputVerdict verdict = CheckStream(in);
    if (!verdict.accepted()) fail(EngineFailure::Refused, "it is " + verdict.reason);
    return verdict;
}

}  // namespace vellumor
