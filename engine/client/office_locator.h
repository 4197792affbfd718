// Finding the office installed on a Windows machine, whose python.exe runs the script worker.
#pragma once

#include <string>
#include <vector>

namespace vellumor {

// The registry key every office installation writes; its default value is the office's
// program folder (which holds soffice.exe and python.exe).
inline constexpr const wchar_t* kOfficeRegistryKey = L"SOFTWARE\\LibreOffice\\UNO\\InstallPath";

// The program folders worth trying, best first: the registry's in both of its views (a
// 32-bit program must find a 64-bit office) under the machine's and the user's keys, then the
// usual folders under Program Files of either kind. Duplicates are dropped.
std::vector<std::string> OfficeProgramFolderCandidates();

// The first candidate that holds python.exe, as the full path of that python.exe; empty when
// no office is installed.
std::string FindOfficePython();

// Where a user without the office gets it, for messages.
inline constexpr const char* kOfficeDownloadAddress = "https://www.libreoffice.org/download/";

}  // namespace vellumor
