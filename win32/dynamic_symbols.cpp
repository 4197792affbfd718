#include "win32/dynamic_symbols.h"

namespace vellumor::win {

namespace {

template <typename Function>
void Find(Function& slot, HMODULE module, const char* name) {
    slot = module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

}  // namespace

const DynamicSymbols& Symbols() {
    static const DynamicSymbols symbols = [] {
        DynamicSymbols table;
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const HMODULE advapi = LoadLibraryW(L"advapi32.dll");
        Find(table.wineGetUnixFileName, kernel, "wine_get_unix_file_name");
        Find(table.wineGetDosFileName, kernel, "wine_get_dos_file_name");
        Find(table.wineGetVersion, ntdll, "wine_get_version");
        Find(table.systemFunction036, advapi, "SystemFunction036");
        return table;
    }();
    return symbols;
}

}  // namespace vellumor::win
