// What the worker client needs from the system: loopback sockets, starting and stopping the
// worker process, random bytes and path translation. One implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumor::worker_platform {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Listens on 127.0.0.1 on a port the system picks.
Socket ListenLoopback(int& port, std::string& error);
// The next connection, or kNoSocket when none arrives within timeoutMs.
Socket AcceptWithin(Socket listener, int timeoutMs);
bool SendAll(Socket socket, const std::string& data);
// Bytes read (> 0), 0 when the peer closed, -1 on error, -2 when nothing came within timeoutMs.
int ReceiveSome(Socket socket, char* buffer, int size, int timeoutMs);
void CloseSocket(Socket socket);
// Ends both directions of a connection without closing it: a thread reading it wakes with the
// peer gone, and the peer sees the connection end. Safe from another thread.
void ShutdownSocket(Socket socket);

struct Process {
    std::intptr_t id = 0;      // pid, or process id on Windows
    std::intptr_t handle = 0;  // Windows process handle, when the system gave one
    bool running = false;
};

// What to start: an executable worker, or a worker script and the interpreter that runs it.
struct WorkerCommand {
    std::string program;      // the worker executable, or the script
    std::string interpreter;  // empty for an executable worker
    bool unix = false;        // under Wine: a Linux program, which is handed Unix paths
};

// The command for a worker path: a path ending in ".py" is the script worker, run by the
// interpreter given, else by the platform's own choice (the office's python.exe on Windows,
// /usr/bin/python3 on Linux and under Wine). error says why when no interpreter is found.
WorkerCommand CommandFor(const std::string& workerPath, const std::string& interpreter,
                         std::string& error);

// Starts the worker with the port as its last argument and the token in its environment.
bool Launch(const WorkerCommand& command, int port, const std::string& token, Process& out,
            std::string& error);
// Ends the worker if the system lets us (under Wine there is no handle; the worker's own
// watchdog ends it when the socket closes).
void Kill(Process& process);

// How a process ended, where the system tells.
struct ProcessEnd {
    bool known = false;
    int exitCode = 0;  // when it exited
    int signal = 0;    // when a signal ended it (POSIX)
};
// Collects the ended worker, waiting up to timeoutMs, and kills it past that.
ProcessEnd Reap(Process& process, int timeoutMs);

bool RandomBytes(std::uint8_t* out, std::size_t size);

// The path as the worker must see it: under Wine a Windows path becomes the Unix path of the
// same file; elsewhere it is unchanged.
std::string WorkerPath(const std::string& path, bool workerIsUnix);

std::string ExecutableFolder();

bool FileExists(const std::string& path);
bool RunningUnderWine();
char PathSeparator();

}  // namespace vellumor::worker_platform
