// The Windows half. On Windows the worker is vellumor-engine.exe beside the program. Under
// Wine the worker may be the Linux vellumor-engine: Wine starts it, but hands back no process
// handle and no pipes, so everything goes over the loopback socket, paths are translated to
// Unix paths, and the worker's own watchdog ends it when the socket closes.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/engine_protocol.h"
#include "engine/client/worker_platform.h"

namespace vellumor::worker_platform {

namespace {

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s = text ? Narrow(text) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!s.empty() && (static_cast<unsigned char>(s.back()) <= ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

void StartWinsock() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

using UnixNameFn = char*(CDECL*)(const wchar_t*);

UnixNameFn UnixNameFunction() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<UnixNameFn>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                  : nullptr;
}

// The Unix name of a Windows path under Wine. Wine resolves names that exist (with their real
// case); for a file or folders still to be made, the existing front part is resolved and the
// rest appended.
std::string UnixName(const std::string& path) {
    UnixNameFn toUnix = UnixNameFunction();
    if (!toUnix) return path;
    std::wstring wide = Widen(path);
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
    if (n > 0 && n < MAX_PATH * 4) wide = full;
    std::string tail;
    for (int guard = 0; guard < 256; ++guard) {
        if (char* unix = toUnix(wide.c_str())) {
            std::string result = unix;
            HeapFree(GetProcessHeap(), 0, unix);
            if (!tail.empty() && !result.empty() && result.back() != '/') result += '/';
            return result + tail;
        }
        auto cut = wide.find_last_of(L"\\/");
        if (cut == std::wstring::npos || cut == 0) break;
        std::string part = Narrow(wide.substr(cut + 1));
        tail = tail.empty() ? part : part + "/" + tail;
        wide = wide.substr(0, cut);
        if (wide.size() == 2 && wide[1] == L':') wide += L'\\';
    }
    return path;
}

}  // namespace

Socket ListenLoopback(int& port, std::string& error) {
    StartWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error = "cannot open a socket: " + SystemText(WSAGetLastError());
        return kNoSocket;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error = "cannot listen on 127.0.0.1: " + SystemText(WSAGetLastError());
        closesocket(s);
        return kNoSocket;
    }
    port = ntohs(addr.sin_port);
    return static_cast<Socket>(s);
}

Socket AcceptWithin(Socket listener, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(listener), &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &set, nullptr, nullptr, &tv) <= 0) return kNoSocket;
    SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNoSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return static_cast<Socket>(s);
}

bool SendAll(Socket socket, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        int n = send(static_cast<SOCKET>(socket), data.data() + done,
                     static_cast<int>(data.size() - done), 0);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int ReceiveSome(Socket socket, char* buffer, int size, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(socket), &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int r = select(0, &set, nullptr, nullptr, &tv);
    if (r == 0) return -2;
    if (r < 0) return -1;
    int n = recv(static_cast<SOCKET>(socket), buffer, size, 0);
    return n < 0 ? -1 : n;
}

void CloseSocket(Socket socket) {
    if (socket != kNoSocket) closesocket(static_cast<SOCKET>(socket));
}

bool Launch(const std::string& executable, int port, const std::string& token, Process& out,
            std::string& error) {
    // The token travels in the environment block; Wine also passes the Windows environment of
    // the starting process to a Unix program, so the variable is set there for the moment of
    // the start as well.
    std::wstring name = Widen(protocol::kTokenVariable);
    std::wstring value = Widen(token);
    std::vector<wchar_t> block;
    wchar_t* env = GetEnvironmentStringsW();
    for (const wchar_t* e = env; e && *e; e += wcslen(e) + 1) {
        std::wstring entry = e;
        if (entry.compare(0, name.size() + 1, name + L"=") == 0) continue;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    if (env) FreeEnvironmentStringsW(env);
    std::wstring mine = name + L"=" + value;
    block.insert(block.end(), mine.begin(), mine.end());
    block.push_back(L'\0');
    block.push_back(L'\0');

    std::wstring exe = Widen(executable);
    std::wstring commandLine = L"\"" + exe + L"\" " + std::to_wstring(port);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    SetEnvironmentVariableW(name.c_str(), value.c_str());
    BOOL ok = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                             CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr,
                             &startup, &info);
    DWORD code = GetLastError();
    SetEnvironmentVariableW(name.c_str(), nullptr);
    if (!ok) {
        error = "cannot start " + executable + ": " + SystemText(code);
        return false;
    }
    if (info.hThread) CloseHandle(info.hThread);
    out.handle = reinterpret_cast<std::intptr_t>(info.hProcess);
    out.id = static_cast<std::intptr_t>(info.dwProcessId);
    out.running = true;
    return true;
}

void Kill(Process& process) {
    if (process.running && process.handle)
        TerminateProcess(reinterpret_cast<HANDLE>(process.handle), 1);
}

std::string Reap(Process& process, int timeoutMs) {
    if (!process.running) return {};
    process.running = false;
    if (!process.handle) return {};
    HANDLE h = reinterpret_cast<HANDLE>(process.handle);
    if (WaitForSingleObject(h, static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 1000);
    }
    DWORD code = 0;
    GetExitCodeProcess(h, &code);
    CloseHandle(h);
    process.handle = 0;
    if (code == 4) return "it overran its deadline";
    if (code == 0) return {};
    char hex[16];
    snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return std::string("it exited with code ") + (code > 255 ? hex : std::to_string(code));
}

bool RandomBytes(std::uint8_t* out, std::size_t size) {
    using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    HMODULE advapi = LoadLibraryW(L"advapi32.dll");
    auto gen = advapi ? reinterpret_cast<GenRandom>(
                            reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
                      : nullptr;
    return gen && gen(out, static_cast<ULONG>(size));
}

std::string WorkerPath(const std::string& path, bool workerIsUnix) {
    if (!workerIsUnix) {
        std::wstring wide = Widen(path);
        wchar_t full[MAX_PATH * 4];
        DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
        return n > 0 && n < MAX_PATH * 4 ? Narrow(full) : path;
    }
    return UnixName(path);
}

bool WorkerIsUnix(const std::string& executable) {
    if (!RunningUnderWine()) return false;
    auto dot = executable.find_last_of('.');
    auto sep = executable.find_last_of("\\/");
    bool hasExe = dot != std::string::npos && (sep == std::string::npos || dot > sep) &&
                  _stricmp(executable.c_str() + dot, ".exe") == 0;
    return !hasExe;
}

std::string ExecutableFolder() {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH * 4);
    std::wstring path(buf, n);
    auto cut = path.find_last_of(L"\\/");
    return Narrow(cut == std::wstring::npos ? L"." : path.substr(0, cut));
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveFile(const std::string& path) {
    DeleteFileW(Widen(path).c_str());
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

char PathSeparator() {
    return '\\';
}

}  // namespace vellumor::worker_platform
