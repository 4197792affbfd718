// The system functions the program looks up at run time instead of importing, in one table.
// Each is Wine's alone or an undocumented export, and importing it would tie the program's
// start to it; a missing one is a null pointer, and its caller does without.
#pragma once

#include <windows.h>

namespace vellumor::win {

struct DynamicSymbols {
    // Wine's kernel32 only: translate a Windows path to the Unix one and back, for a worker that
    // is a Linux program. The results are freed with HeapFree on the process heap.
    char*(CDECL* wineGetUnixFileName)(const wchar_t* path) = nullptr;
    wchar_t*(CDECL* wineGetDosFileName)(const char* path) = nullptr;
    // Wine's ntdll only: that it exists tells the program it runs under Wine.
    const char*(CDECL* wineGetVersion)() = nullptr;
    // RtlGenRandom, which advapi32 exports only under this undocumented name; the worker's
    // token and the private folders' names come from it.
    BOOLEAN(WINAPI* systemFunction036)(PVOID buffer, ULONG length) = nullptr;
};

// The table, filled on first use (advapi32 is loaded then and stays loaded).
const DynamicSymbols& Symbols();

}  // namespace vellumor::win
