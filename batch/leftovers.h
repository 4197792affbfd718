// The names of what a run leaves outside the output folder while it works, and how a later run
// tells them apart from everything else: private folders "<prefix><pid>-<12 hex digits>" under
// the temporary folder, and "<PDF name>.vellumor-part-<pid>" beside a PDF copied across volumes.
// Only a name of exactly this form is ever swept (batch/platform.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellumor::batch {

inline constexpr std::string_view kPartInfix = ".vellumor-part-";
// Held open inside a private folder by its owner for as long as the folder is in use.
inline constexpr const char* kOwnerMarker = ".owner";

std::string PrivateFolderName(std::string_view prefix, std::uint32_t pid,
                              const std::uint8_t (&random)[6]);
// The pid in the name of a private folder of prefix; nullopt for any other name.
std::optional<std::uint32_t> PidOfPrivateFolder(std::string_view name, std::string_view prefix);

std::string PartName(std::string_view target, std::uint32_t pid);
// The pid in the name of a part of the file named targetName; nullopt for any other name.
std::optional<std::uint32_t> PidOfPart(std::string_view name, std::string_view targetName);

}  // namespace vellumor::batch
