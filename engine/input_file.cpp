#include "engine/input_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/input_check.h"

namespace fs = std::filesystem;

namespace vellumor {

std::string DisplayNameOf(const std::string& path) {
#ifdef _WIN32
    auto cut = path.find_last_of("\\/:");
#else
    auto cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

InputVerdict CheckInputFile(const std::string& path) {
    const std::string name = DisplayNameOf(path);
    auto fail = [&](EngineFailure failure, const std::string& reason) {
        throw EngineError(failure, "Cannot convert " + name + ": " + reason);
    };
    // u8path: the UTF-8 name reaches the wide file functions on Windows.
    const fs::path file = fs::u8path(path);
    std::error_code ec;
    auto status = fs::status(file, ec);
    if (ec || !fs::exists(status))
        fail(EngineFailure::NotFound,
             "cannot open it: " + (ec ? ec.message() : std::string("no such file")));
    if (fs::is_directory(status)) fail(EngineFailure::NotFound, "it is a folder");
    std::ifstream in(file, std::ios::binary);
    if (!in) fail(EngineFailure::NotFound, "cannot open it: it cannot be read");
    const InputVerdict verdict = CheckStream(in);
    if (verdict.kind == InputKind::PasswordProtected)
        fail(EngineFailure::PasswordProtected, "the document is password-protected");
    if (!verdict.accepted()) fail(EngineFailure::Refused, "it is " + verdict.reason);
    return verdict;
}

}  // namespace vellumor
