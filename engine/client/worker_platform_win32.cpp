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
#include "core/trace.h"
#include "engine/client/office_locator.h"
#include "engine/client/worker_platform.h"
#include "win32/dynamic_symbols.h"
#include "win32/handles.h"
#include "win32/long_path.h"
#include "win32/program_path.h"
#include "win32/system_text.h"
#include "win32/unicode.h"

namespace vellumor::worker_platform {

namespace {

using win::Narrow;
using win::Widen;

void StartWinsock() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

// The Unix name of a Windows path under Wine. Wine resolves names that exist (with their real
// case); for a file or folders still to be made, the existing front part is resolved and the
// rest appended.
std::string UnixName(const std::string& path) {
    const auto toUnix = win::Symbols().wineGetUnixFileName;
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
        error = "cannot open a socket: " + win::SystemErrorText(WSAGetLastError());
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
        error = "cannot listen on 127.0.0.1: " + win::SystemErrorText(WSAGetLastError());
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

void ShutdownSocket(Socket socket) {
    if (socket != kNoSocket) shutdown(static_cast<SOCKET>(socket), SD_BOTH);
}

namespace {

bool HasSuffix(const std::string& path, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return path.size() > n && _stricmp(path.c_str() + path.size() - n, suffix) == 0;
}

// The Windows name of a Unix path under Wine (Z:\usr\bin\python3 for /usr/bin/python3).
std::string DosName(const std::string& unixPath) {
    const auto toDos = win::Symbols().wineGetDosFileName;
    if (!toDos) return unixPath;
    wchar_t* dos = toDos(unixPath.c_str());
    if (!dos) return unixPath;
    std::string result = Narrow(dos);
    HeapFree(GetProcessHeap(), 0, dos);
    return result;
}

std::wstring Quoted(const std::string& argument) {
    return L"\"" + Widen(argument) + L"\"";
}

// A job that ends the worker, and so everything it started, when this process goes: the
// script worker's office must not outlive a client that was killed.
HANDLE WorkerJob() {
    static HANDLE job = [] {
        HANDLE h = CreateJobObjectW(nullptr, nullptr);
        if (!h) return h;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
        SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return h;
    }();
    return job;
}

}  // namespace

WorkerCommand CommandFor(const std::string& workerPath, const std::string& interpreter,
                         std::string& error) {
    WorkerCommand command;
    command.program = workerPath;
    if (!HasSuffix(workerPath, ".py")) {
        // Under Wine a worker without .exe is the Linux program.
        command.unix = RunningUnderWine() && !HasSuffix(workerPath, ".exe");
        return command;
    }
    command.interpreter = interpreter;
    if (command.interpreter.empty()) command.interpreter = FindOfficePython();
    if (command.interpreter.empty() && RunningUnderWine()) {
        // Under Wine without a Windows office: the system's Python with the Linux office's
        // bridge runs the same script, and is handed Unix paths.
        command.interpreter = "/usr/bin/python3";
        command.unix = true;
        return command;
    }
    if (command.interpreter.empty())
        error = std::string("LibreOffice was not found on this computer; install it from ") +
                kOfficeDownloadAddress;
    else
        command.unix = RunningUnderWine() && !HasSuffix(command.interpreter, ".exe");
    return command;
}

bool Launch(const WorkerCommand& command, int port, const std::string& token, Process& out,
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

    const bool script = !command.interpreter.empty();
    std::string executable = script ? command.interpreter : command.program;
    if (command.unix && !executable.empty() && executable.front() == '/')
        executable = DosName(executable);
    std::wstring exe = Widen(executable);
    std::wstring commandLine = Quoted(executable) + L" ";
    if (script)
        commandLine +=
            Quoted(command.unix ? WorkerPath(command.program, true) : command.program) + L" ";
    commandLine += std::to_wstring(port);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    SetEnvironmentVariableW(name.c_str(), value.c_str());
    BOOL ok = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                             CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                             block.data(), nullptr, &startup, &info);
    DWORD code = GetLastError();
    SetEnvironmentVariableW(name.c_str(), nullptr);
    if (!ok) {
        error = "cannot start " + executable + ": " + win::SystemErrorText(code);
        return false;
    }
    win::Owned<HANDLE, win::CloseKernelHandle> thread(info.hThread);
    if (!command.unix && WorkerJob()) AssignProcessToJobObject(WorkerJob(), info.hProcess);
    if (thread) ResumeThread(thread.get());
    out.handle = reinterpret_cast<std::intptr_t>(info.hProcess);
    out.id = static_cast<std::intptr_t>(info.dwProcessId);
    out.running = true;
    return true;
}

void Kill(Process& process) {
    if (process.running && process.handle)
        TerminateProcess(reinterpret_cast<HANDLE>(process.handle), 1);
}

ProcessEnd Reap(Process& process, int timeoutMs) {
    ProcessEnd end;
    if (!process.running) return end;
    process.running = false;
    if (!process.handle) return end;
    win::Owned<HANDLE, win::CloseKernelHandle> handle(reinterpret_cast<HANDLE>(process.handle));
    process.handle = 0;
    if (WaitForSingleObject(handle.get(), static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
        TerminateProcess(handle.get(), 1);
        WaitForSingleObject(handle.get(), 1000);
    }
    DWORD code = 0;
    if (GetExitCodeProcess(handle.get(), &code)) {
        end.known = true;
        end.exitCode = static_cast<int>(code);
    }
    return end;
}

bool RandomBytes(std::uint8_t* out, std::size_t size) {
    const auto generate = win::Symbols().systemFunction036;
    return generate && generate(out, static_cast<ULONG>(size));
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

std::string ExecutableFolder() {
    return win::ProgramFolder();
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RunningUnderWine() {
    return win::Symbols().wineGetVersion != nullptr;
}

char PathSeparator() {
    return '\\';
}

}  // namespace vellumor::worker_platform
