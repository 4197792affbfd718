#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "core/engine_protocol.h"
#include "core/paths.h"
#include "core/trace.h"
#include "engine/client/worker_platform.h"

extern char** environ;

namespace vellumor::worker_platform {

Socket ListenLoopback(int& port, std::string& error) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        error = std::string("cannot open a socket: ") + strerror(errno);
        return kNoSocket;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error = std::string("cannot listen on 127.0.0.1: ") + strerror(errno);
        close(s);
        return kNoSocket;
    }
    port = ntohs(addr.sin_port);
    return s;
}

Socket AcceptWithin(Socket listener, int timeoutMs) {
    pollfd p{static_cast<int>(listener), POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return kNoSocket;
    int s = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) return kNoSocket;
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

bool SendAll(Socket socket, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n =
            send(static_cast<int>(socket), data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int ReceiveSome(Socket socket, char* buffer, int size, int timeoutMs) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return -2;
    if (r < 0) return -1;
    ssize_t n;
    do {
        n = recv(static_cast<int>(socket), buffer, static_cast<std::size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

void CloseSocket(Socket socket) {
    if (socket != kNoSocket) close(static_cast<int>(socket));
}

void ShutdownSocket(Socket socket) {
    if (socket != kNoSocket) shutdown(static_cast<int>(socket), SHUT_RDWR);
}

namespace {

bool EndsWithScriptSuffix(const std::string& path) {
    return path.size() > 3 && strcasecmp(path.c_str() + path.size() - 3, ".py") == 0;
}

}  // namespace

WorkerCommand CommandFor(const std::string& workerPath, const std::string& interpreter,
                         std::string& error) {
    WorkerCommand command;
    command.program = workerPath;
    command.unix = true;
    if (!EndsWithScriptSuffix(workerPath)) return command;
    // The system's Python: the one Debian's office bridge (python3-uno) is built for. A python3
    // found first on PATH may be another interpreter without it.
    command.interpreter = interpreter;
    if (command.interpreter.empty()) {
        const char* env = getenv("VELLUMOR_PYTHON");
        command.interpreter = env && *env ? env : "/usr/bin/python3";
    }
    if (access(command.interpreter.c_str(), X_OK) != 0)
        error = "the Python that runs the engine script was not found at " + command.interpreter;
    return command;
}

bool Launch(const WorkerCommand& command, int port, const std::string& token, Process& out,
            std::string& error) {
    std::vector<std::string> env;
    std::string prefix = std::string(protocol::kTokenVariable) + "=";
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) env.emplace_back(*e);
    env.push_back(prefix + token);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args;
    if (!command.interpreter.empty()) args.push_back(command.interpreter);
    args.push_back(command.program);
    args.push_back(std::to_string(port));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The worker gets default signal handling and its own process group, so a terminal's
    // Ctrl+C reaches the client, which then ends its workers in order.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = "cannot start " + std::string(argv[0]) + ": " + strerror(rc);
        return false;
    }
    out.id = pid;
    out.running = true;
    return true;
}

void Kill(Process& process) {
    if (process.running && process.id > 0) kill(static_cast<pid_t>(process.id), SIGKILL);
}

ProcessEnd Reap(Process& process, int timeoutMs) {
    ProcessEnd end;
    if (!process.running || process.id <= 0) return end;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t r = waitpid(static_cast<pid_t>(process.id), &status, WNOHANG);
        if (r == static_cast<pid_t>(process.id)) break;
        if (r < 0) {
            process.running = false;
            return end;
        }
        if (std::chrono::steady_clock::now() >= until) {
            kill(static_cast<pid_t>(process.id), SIGKILL);
            waitpid(static_cast<pid_t>(process.id), &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    process.running = false;
    if (WIFSIGNALED(status)) {
        end.known = true;
        end.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        end.known = true;
        end.exitCode = WEXITSTATUS(status);
    }
    return end;
}

bool RandomBytes(std::uint8_t* out, std::size_t size) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, out + done, size - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return done == size;
}

std::string WorkerPath(const std::string& path, bool) {
    if (!path.empty() && path.front() == '/') return path;
    char cwd[PATH_MAX];
    std::string base = getcwd(cwd, sizeof cwd) ? cwd : ".";
    return base + "/" + path;
}

std::string ExecutableFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    const std::string path(buf, static_cast<std::size_t>(n));
    const std::size_t nameStart = NameStart(path, kPosixSeparators);
    return nameStart == 0 ? "." : path.substr(0, nameStart - 1);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool RunningUnderWine() {
    return false;
}
char PathSeparator() {
    return '/';
}

}  // namespace vellumor::worker_platform
