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

struct Process {
    std::intptr_t id = 0;      // pid, or process id on Windows
    std::intptr_t handle = 0;  // Windows process handle, when the system gave one
    bool running = false;
};

// Starts the worker with the port as its argument and the token in its environment.
bool Launch(const std::string& executable, int port, const std::string& token, Process& out,
            std::string& error);
// Ends the worker if the system lets us (under Wine there is no handle; the worker's own
// watchdog ends it when the socket closes).
void Kill(Process& process);
// Collects the ended worker, waiting up to timeoutMs; describes how it ended if that is known
// ("it was killed by signal 9"), else empty.
std::string Reap(Process& process, int timeoutMs);

bool RandomBytes(std::uint8_t* out, std::size_t size);

// The path as the worker must see it: under Wine a Windows path becomes the Unix path of the
// same file; elsewhere it is unchanged.
std::string WorkerPath(const std::string& path, bool workerIsUnix);
bool WorkerIsUnix(const std::string& executable);

std::string ExecutableFolder();
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);
bool RunningUnderWine();
char PathSeparator();

}  // namespace vellumor::worker_platform
