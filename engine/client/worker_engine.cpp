#include "engine/client/worker_engine.h"

#include <chrono>

#include "core/engine_protocol.h"
#include "engine/client/worker_platform.h"

namespace vellumor {

namespace proto = vellumor::protocol;
namespace wp = vellumor::worker_platform;
using Clock = std::chrono::steady_clock;

namespace {

// The last part of a path, for messages.
std::string NameOf(const std::string& path) {
#ifdef _WIN32
    auto cut = path.find_last_of("\\/:");
#else
    auto cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

int MillisecondsLeft(Clock::time_point until) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left > 1 << 30 ? 1 << 30 : left);
}

std::string Seconds(std::chrono::milliseconds ms) {
    auto s = (ms.count() + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

}  // namespace

struct WorkerEngine::Impl {
    WorkerEngineOptions options;
    enum class State { Stopped, Launched, Ready } state = State::Stopped;
    wp::Socket listener = wp::kNoSocket;
    wp::Socket connection = wp::kNoSocket;
    wp::Process process;
    std::string token;
    Clock::time_point launchedAt;
    std::string launchError;  // why the last launch failed, reported by the next operation
    proto::FrameReader reader;
    bool workerIsUnix = false;
    std::uint32_t nextId = 1;
    std::uint32_t workerPid = 0;
    int documents = 0;
    int lastPages = 0;
    std::uint64_t lastMemory = 0;
    int workersStarted = 0;

    explicit Impl(WorkerEngineOptions o) : options(std::move(o)) {
        if (options.workerPath.empty()) options.workerPath = FindWorkerBesideExecutable();
        workerIsUnix = wp::WorkerIsUnix(options.workerPath);
    }

    ~Impl() { Stop(true); }

    void Launch() {
        if (state != State::Stopped) return;
        launchError.clear();
        reader = proto::FrameReader();
        if (options.workerPath.empty()) {
            launchError = "the engine program vellumor-engine was not found beside the program";
            return;
        }
        std::uint8_t bytes[proto::kTokenBytes];
        if (!wp::RandomBytes(bytes, sizeof bytes)) {
            launchError = "no random source for the engine's token";
            return;
        }
        token = proto::TokenText(bytes);
        int port = 0;
        listener = wp::ListenLoopback(port, launchError);
        if (listener == wp::kNoSocket) return;
        if (!wp::Launch(options.workerPath, port, token, process, launchError)) {
            wp::CloseSocket(listener);
            listener = wp::kNoSocket;
            return;
        }
        ++workersStarted;
        launchedAt = Clock::now();
        state = State::Launched;
    }

    // Ends the worker: politely when asked to, by closing the connection and killing otherwise.
    void Stop(bool polite) {
        if (connection != wp::kNoSocket && polite && state == State::Ready) {
            proto::Message quit;
            quit.type = proto::MessageType::Quit;
            wp::SendAll(connection, proto::EncodeFrame(quit));
        }
        wp::CloseSocket(connection);
        wp::CloseSocket(listener);
        connection = listener = wp::kNoSocket;
        if (process.running) {
            bool quitting = polite && state == State::Ready;
            if (!quitting) wp::Kill(process);
            wp::Reap(process, quitting ? 3000 : 1000);
        }
        state = State::Stopped;
        documents = 0;
    }

    // Why the worker went away, for a message; it is collected first.
    std::string Ended() {
        wp::CloseSocket(connection);
        connection = wp::kNoSocket;
        std::string how = wp::Reap(process, 2000);
        Stop(false);
        return how;
    }

    // Reads the next message within the time left; false on timeout, close or garbage.
    enum class Wait { Message, Timeout, Closed, Garbage };
    Wait Receive(proto::Message& out, Clock::time_point until) {
        for (;;) {
            auto r = reader.Next(out);
            if (r == proto::FrameReader::Result::Message) return Wait::Message;
            if (r == proto::FrameReader::Result::Malformed) return Wait::Garbage;
            char buf[65536];
            int n = wp::ReceiveSome(connection, buf, sizeof buf, MillisecondsLeft(until));
            if (n == -2) return Wait::Timeout;
            if (n <= 0) return Wait::Closed;
            reader.Append(buf, static_cast<std::size_t>(n));
        }
    }

    // Completes the start: accepts the worker that presents the token and waits until its
    // office is up. Throws with a message on failure.
    void Handshake() {
        if (state == State::Stopped) Launch();
        if (state == State::Stopped)
            throw EngineError("The document engine could not be started: " + launchError);
        if (state == State::Ready) return;
        auto until = launchedAt + options.startTimeout;
        while (connection == wp::kNoSocket) {
            int left = MillisecondsLeft(until);
            wp::Socket s = left > 0 ? wp::AcceptWithin(listener, left) : wp::kNoSocket;
            if (s == wp::kNoSocket) {
                std::string how = Ended();
                throw EngineError("The document engine did not start within " +
                                  Seconds(options.startTimeout) + (how.empty() ? "" : ": " + how));
            }
            // Only the connection that presents this start's token is taken.
            connection = s;
            reader = proto::FrameReader();
            proto::Message hello;
            auto helloUntil = std::min(until, Clock::now() + std::chrono::seconds(10));
            if (Receive(hello, helloUntil) != Wait::Message ||
                hello.type != proto::MessageType::Hello ||
                !proto::TokensEqual(hello.token, token)) {
                wp::CloseSocket(connection);
                connection = wp::kNoSocket;
                continue;
            }
            workerPid = hello.pid;
            if (hello.version != proto::kVersion) {
                Stop(false);
                throw EngineError("The document engine speaks protocol version " +
                                  std::to_string(hello.version) + ", this program version " +
                                  std::to_string(proto::kVersion));
            }
        }
        wp::CloseSocket(listener);
        listener = wp::kNoSocket;
        proto::Message ready;
        switch (Receive(ready, until)) {
            case Wait::Message:
                break;
            case Wait::Timeout:
                Stop(false);
                throw EngineError("The document engine did not start within " +
                                  Seconds(options.startTimeout));
            default: {
                std::string how = Ended();
                throw EngineError("The document engine stopped while starting" +
                                  (how.empty() ? "" : ": " + how));
            }
        }
        if (ready.type != proto::MessageType::Ready || ready.status != proto::Status::Ok) {
            Stop(false);
            throw EngineError("The document engine could not start the office" +
                              (ready.text.empty() ? "" : ": " + ready.text));
        }
        state = State::Ready;
    }

    // A worker that died while saving may leave its partial PDF beside the target.
    void RemovePartial(const std::string& path) {
        if (!workerPid) return;
#ifdef _WIN32
        auto cut = path.find_last_of("\\/:");
#else
        auto cut = path.find_last_of('/');
#endif
        std::string folder = cut == std::string::npos ? "" : path.substr(0, cut + 1);
        wp::RemoveFile(folder + proto::PartialPdfName(NameOf(path), workerPid));
    }

    proto::Message Command(proto::MessageType type, const std::string& path, int reserved,
                           int format, bool flag, const char* doing) {
        Handshake();
        proto::Message command;
        command.type = type;
        command.id = nextId++;
        command.deadlineMs = static_cast<std::uint32_t>(options.operationTimeout.count());
        command.text = wp::WorkerPath(path, workerIsUnix);
        command.reserved = reserved;
        command.format = format;
        command.flag = flag;
        if (options.pdfA) command.options |= proto::kOptionPdfA;
        const std::string name = NameOf(path);
        if (!wp::SendAll(connection, proto::EncodeFrame(command))) {
            std::string how = Ended();
            throw EngineError("The document engine stopped before " + std::string(doing) + " " +
                              name + (how.empty() ? "" : ": " + how));
        }
        // The worker ends itself at the deadline; the client waits a little longer for its
        // answer and then ends it.
        auto started = Clock::now();
        auto until = started + options.operationTimeout + std::chrono::seconds(3);
        proto::Message reply;
        for (;;) {
            Wait w = Receive(reply, until);
            if (w == Wait::Message && reply.type == proto::MessageType::Result &&
                reply.id == command.id)
                break;
            if (w == Wait::Message) continue;  // a stale answer: ignore it
            bool late = Clock::now() - started >= options.operationTimeout;
            if (type == proto::MessageType::Save) RemovePartial(path);
            std::string how = w == Wait::Timeout ? (Stop(false), std::string()) : Ended();
            if (w == Wait::Timeout || late || how == "it overran its deadline")
                throw EngineError("The document engine did not finish " + std::string(doing) + " " +
                                  name + " within " + Seconds(options.operationTimeout));
            if (w == Wait::Garbage)
                throw EngineError("The document engine sent an unreadable answer while " +
                                  std::string(doing) + " " + name);
            throw EngineError("The document engine stopped while " + std::string(doing) + " " +
                              name + (how.empty() ? "" : ": " + how));
        }
        lastMemory = reply.memoryBytes;
        return reply;
    }
};

WorkerEngine::WorkerEngine(WorkerEngineOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
    if (impl_->options.startNow) impl_->Launch();
}

WorkerEngine::~WorkerEngine() = default;

void WorkerEngine::Start() {
    impl_->Launch();
}

int WorkerEngine::Load(const std::string& path, int reserved, int format, bool flag) {
    auto& d = *impl_;
    if (d.state == Impl::State::Ready &&
        (d.documents >= d.options.recycleAfterDocuments ||
         (d.options.recycleAboveBytes && d.lastMemory > d.options.recycleAboveBytes)))
        d.Stop(true);
    proto::Message reply =
        d.Command(proto::MessageType::Load, path, reserved, format, flag, "loading");
    ++d.documents;
    if (reply.status != proto::Status::Ok)
        throw EngineError("Cannot convert " + NameOf(path) + ": " + reply.text,
                          static_cast<long>(reply.status));
    return reply.value;
}

int WorkerEngine::Save(const std::string& path, int reserved, int format, bool flag) {
    auto& d = *impl_;
    d.lastPages = 0;
    proto::Message reply =
        d.Command(proto::MessageType::Save, path, reserved, format, flag, "saving");
    if (reply.status != proto::Status::Ok)
        throw EngineError("Cannot save " + NameOf(path) + ": " + reply.text,
                          static_cast<long>(reply.status));
    d.lastPages = reply.pages;
    return reply.value;
}

int WorkerEngine::LastPageCount() const {
    return impl_->lastPages;
}
std::uint64_t WorkerEngine::LastWorkerMemory() const {
    return impl_->lastMemory;
}
int WorkerEngine::WorkersStarted() const {
    return impl_->workersStarted;
}
void WorkerEngine::SetOperationTimeout(std::chrono::milliseconds timeout) {
    impl_->options.operationTimeout = timeout;
}
void WorkerEngine::SetPdfA(bool pdfA) {
    impl_->options.pdfA = pdfA;
}

std::unique_ptr<DocumentEngine> MakeWorkerEngine(const WorkerEngineOptions& options) {
    return std::make_unique<WorkerEngine>(options);
}

std::string FindWorkerBesideExecutable() {
    std::string folder = wp::ExecutableFolder();
    std::string sep(1, wp::PathSeparator());
#ifdef _WIN32
    if (wp::FileExists(folder + sep + "vellumor-engine.exe"))
        return folder + sep + "vellumor-engine.exe";
    if (wp::RunningUnderWine() && wp::FileExists(folder + sep + "vellumor-engine"))
        return folder + sep + "vellumor-engine";
#else
    if (wp::FileExists(folder + sep + "vellumor-engine")) return folder + sep + "vellumor-engine";
#endif
    return {};
}

}  // namespace vellumor
