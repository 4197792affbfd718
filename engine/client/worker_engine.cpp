#include "engine/client/worker_engine.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "core/engine_protocol.h"
#include "engine/client/worker_platform.h"
#include "engine/input_file.h"

namespace vellumor {

namespace proto = vellumor::protocol;
namespace wp = vellumor::worker_platform;
using Clock = std::chrono::steady_clock;

namespace {

// How a worker ended, for a message; empty when it ended normally or nobody knows.
std::string Describe(const wp::ProcessEnd& end) {
    if (!end.known) return {};
    if (end.signal) {
        const char* name = end.signal == 11  ? " (segmentation fault)"
                           : end.signal == 6 ? " (abort)"
                           : end.signal == 9 ? " (killed)"
                                             : "";
        return "it ended on signal " + std::to_string(end.signal) + name;
    }
    switch (static_cast<WorkerExit>(end.exitCode)) {
        case WorkerExit::Done:
            return {};
        case WorkerExit::Deadline:
            return "it overran its deadline";
        case WorkerExit::OfficeCrashed:
            return "the office it drives crashed";
        case WorkerExit::MemoryCeiling:
            return "its document needed more memory than allowed";
        default:
            break;
    }
    if (end.exitCode > 255 || end.exitCode < 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(end.exitCode));
        return std::string("it exited with code ") + hex;
    }
    return "it exited with code " + std::to_string(end.exitCode);
}

bool ExitedWith(const wp::ProcessEnd& end, WorkerExit code) {
    return end.known && !end.signal && end.exitCode == static_cast<int>(code);
}

EngineFailure FailureFor(proto::Status status) {
    switch (status) {
        case proto::Status::Ok:
            return EngineFailure::Unspecified;
        case proto::Status::NotFound:
            return EngineFailure::NotFound;
        case proto::Status::Refused:
            return EngineFailure::Refused;
        case proto::Status::PasswordProtected:
            return EngineFailure::PasswordProtected;
        case proto::Status::LoadFailed:
            return EngineFailure::LoadFailed;
        case proto::Status::SaveFailed:
            return EngineFailure::SaveFailed;
        case proto::Status::NoDocument:
            return EngineFailure::NoDocument;
        case proto::Status::BadRequest:
            return EngineFailure::BadRequest;
        case proto::Status::StartFailed:
            return EngineFailure::StartFailed;
    }
    return EngineFailure::Unspecified;
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
    wp::WorkerCommand command;
    std::string commandError;  // why the worker cannot be started at all
    std::uint32_t nextId = 1;
    std::uint32_t workerPid = 0;
    std::string isolationWarning;
    std::string officeName;     // as the worker's greeting names it
    bool officeTooOld = false;  // older than the oldest office the workers are tested with
    int documents = 0;
    int lastPages = 0;
    std::uint64_t lastMemory = 0;
    int workersStarted = 0;
    // The document held, so a worker that dies can be replaced and the document loaded again.
    std::string loadedPath;
    SourceFormat loadedFormat = SourceFormat::Docx;
    int deathsThisDocument = 0;
    bool eightBitText = false;      // the document is text in an 8-bit code page
    bool refuseTextImport = false;  // the office's detection decides; a text import is junk
    WordImport wordImport = WordImport::None;  // the Word format the input check named
    bool loadedEmbedsFonts = false;            // the document held carries fonts of its own
    // The worker has read a document that carries fonts of its own. The office registers them
    // for its whole process and keeps them after the document closes, so the next document
    // goes to a fresh worker: one naming the same family is then laid out with our faces.
    bool fontsRegistered = false;
    // Abort() runs on another thread: it kills the worker it finds here and no other starts.
    std::atomic<bool> aborted{false};
    std::mutex abortMutex;
    wp::Process abortable;
    wp::Socket abortableConnection = wp::kNoSocket;  // shut down by Abort(): under Wine the
                                                     // only way to wake the read and end it
    // The replacement, launched while the current worker finishes its last documents so that
    // its office is up by the time it takes over: recycling then costs no wall time.
    struct Launched {
        bool valid = false;
        wp::Socket listener = wp::kNoSocket;
        wp::Process process;
        std::string token;
        Clock::time_point at;
    } spare;
    // The first worker's memory after its first documents, when the office's caches are warm:
    // every worker is replaced once it grows well past this, since the office's memory creeps
    // up with every document it opens.
    std::uint64_t baselineMemory = 0;
    static constexpr int kBaselineDocuments = 50;
    static constexpr int kSpareLead = 3;  // documents before the quota that the spare starts

    explicit Impl(WorkerEngineOptions o) : options(std::move(o)) {
        if (!options.workerPath.empty())
            command = wp::CommandFor(options.workerPath, options.interpreter, commandError);
    }

    ~Impl() {
        DropSpare();
        Stop(true);
    }

    // Starts a worker process listening for it on a port of its own; nothing is accepted yet.
    bool LaunchProcess(Launched& out, std::string& error) {
        if (options.workerPath.empty()) {
            error = "the engine program vellumor-engine was not found beside the program";
            return false;
        }
        if (!commandError.empty()) {
            error = commandError;
            return false;
        }
        if (aborted) {
            error = "the conversion was stopped";
            return false;
        }
        std::uint8_t bytes[proto::kTokenBytes];
        if (!wp::RandomBytes(bytes, sizeof bytes)) {
            error = "no random source for the engine's token";
            return false;
        }
        out.token = proto::TokenText(bytes);
        int port = 0;
        out.listener = wp::ListenLoopback(port, error);
        if (out.listener == wp::kNoSocket) return false;
        if (!wp::Launch(command, port, out.token, out.process, error)) {
            wp::CloseSocket(out.listener);
            out.listener = wp::kNoSocket;
            return false;
        }
        ++workersStarted;
        out.at = Clock::now();
        out.valid = true;
        return true;
    }

    void Launch() {
        if (state != State::Stopped) return;
        launchError.clear();
        reader = proto::FrameReader();
        Launched next;
        {
            std::lock_guard<std::mutex> lock(abortMutex);
            next = std::exchange(spare, Launched());
        }
        if (!next.valid && !LaunchProcess(next, launchError)) return;
        listener = next.listener;
        process = next.process;
        token = next.token;
        launchedAt = next.at;
        {
            std::lock_guard<std::mutex> lock(abortMutex);
            abortable = process;
            if (aborted) wp::Kill(abortable);
        }
        state = State::Launched;
    }

    void LaunchSpare() {
        std::string ignored;
        Launched next;
        if (!LaunchProcess(next, ignored)) return;
        std::lock_guard<std::mutex> lock(abortMutex);
        spare = next;
        if (aborted) wp::Kill(spare.process);
    }

    void DropSpare() {
        if (!spare.valid) return;
        Launched gone;
        {
            std::lock_guard<std::mutex> lock(abortMutex);
            gone = std::exchange(spare, Launched());
        }
        wp::CloseSocket(gone.listener);
        wp::Kill(gone.process);
        wp::Reap(gone.process, 1000);
    }

    // Ends the worker: politely when asked to, by closing the connection and killing otherwise.
    void Stop(bool polite) {
        Unabortable();
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
        fontsRegistered = false;
    }

    // The worker is about to be collected: Abort() must no longer touch its handle.
    void Unabortable() {
        std::lock_guard<std::mutex> lock(abortMutex);
        abortable = wp::Process();
        abortableConnection = wp::kNoSocket;
    }

    // The connection of the worker being started or working: Abort() may end it.
    void AbortableConnection(wp::Socket socket) {
        std::lock_guard<std::mutex> lock(abortMutex);
        abortableConnection = socket;
        if (aborted) wp::ShutdownSocket(socket);
    }

    void Abort() {
        std::lock_guard<std::mutex> lock(abortMutex);
        aborted = true;
        wp::Kill(abortable);
        wp::ShutdownSocket(abortableConnection);
        if (spare.valid) wp::Kill(spare.process);
    }

    // How the worker went away; it is collected first.
    wp::ProcessEnd Ended() {
        Unabortable();
        wp::CloseSocket(connection);
        connection = wp::kNoSocket;
        wp::ProcessEnd end = wp::Reap(process, 2000);
        Stop(false);
        return end;
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
            throw EngineError(EngineFailure::StartFailed,
                              "The document engine could not be started: " + launchError);
        if (state == State::Ready) return;
        auto until = launchedAt + options.startTimeout;
        while (connection == wp::kNoSocket) {
            wp::Socket s = wp::kNoSocket;
            for (int left; s == wp::kNoSocket && !aborted && (left = MillisecondsLeft(until)) > 0;)
                s = wp::AcceptWithin(listener, std::min(left, 200));
            if (s == wp::kNoSocket) {
                std::string how = Describe(Ended());
                throw EngineError(EngineFailure::StartFailed,
                                  "The document engine did not start within " +
                                      Seconds(options.startTimeout) +
                                      (how.empty() ? "" : ": " + how));
            }
            // Only the connection that presents this start's token is taken.
            connection = s;
            AbortableConnection(connection);
            reader = proto::FrameReader();
            proto::Message hello;
            auto helloUntil = std::min(until, Clock::now() + std::chrono::seconds(10));
            if (Receive(hello, helloUntil) != Wait::Message ||
                hello.type != proto::MessageType::Hello ||
                !proto::TokensEqual(hello.token, token)) {
                AbortableConnection(wp::kNoSocket);
                wp::CloseSocket(connection);
                connection = wp::kNoSocket;
                continue;
            }
            workerPid = hello.pid;
            if (hello.version != proto::kVersion) {
                Stop(false);
                throw EngineError(EngineFailure::StartFailed,
                                  "The document engine speaks protocol version " +
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
                throw EngineError(
                    EngineFailure::StartFailed,
                    "The document engine did not start within " + Seconds(options.startTimeout));
            default: {
                std::string how = Describe(Ended());
                throw EngineError(
                    EngineFailure::StartFailed,
                    "The document engine stopped while starting" + (how.empty() ? "" : ": " + how));
            }
        }
        if (ready.type != proto::MessageType::Ready || ready.status != proto::Status::Ok) {
            Stop(false);
            throw EngineError(EngineFailure::StartFailed,
                              "The document engine could not start the office" +
                                  (ready.text.empty() ? "" : ": " + ready.text));
        }
        isolationWarning =
            ready.isolationProblem.empty() ? "" : "no network isolation: " + ready.isolationProblem;
        officeName = ready.text;
        officeTooOld = (ready.officeMajor || ready.officeMinor) &&
                       (ready.officeMajor < proto::kOldestOfficeMajor ||
                        (ready.officeMajor == proto::kOldestOfficeMajor &&
                         ready.officeMinor < proto::kOldestOfficeMinor));
        state = State::Ready;
    }

    // A worker that died while saving leaves its partial folder beside the target.
    void RemovePartial(const std::string& path) {
        if (!workerPid) return;
        const std::string folder = path.substr(0, path.size() - DisplayNameOf(path).size());
        std::error_code ignored;
        std::filesystem::remove_all(
            std::filesystem::u8path(folder + proto::PartialFolderName(workerPid)), ignored);
    }

    proto::Message Command(proto::MessageType type, const std::string& path, int format,
                           const char* doing) {
        Handshake();
        proto::Message request;
        request.type = type;
        request.id = nextId++;
        request.deadlineMs = static_cast<std::uint32_t>(options.operationTimeout.count());
        request.text = wp::WorkerPath(path, command.unix);
        request.format = format;
        if (options.pdfA) request.options |= proto::kOptionPdfA;
        if (type == proto::MessageType::Load)
            request.reserved =
                proto::LoadReserved(options.allowLocalLinks, options.memoryLimitMiB, eightBitText,
                                    refuseTextImport, static_cast<std::uint8_t>(wordImport));
        const std::string name = DisplayNameOf(path);
        if (!wp::SendAll(connection, proto::EncodeFrame(request))) {
            std::string how = Describe(Ended());
            throw EngineError(EngineFailure::EngineDied, "The document engine stopped before " +
                                                             std::string(doing) + " " + name +
                                                             (how.empty() ? "" : ": " + how));
        }
        // The worker ends itself at the deadline; the client waits a little longer for its
        // answer and then ends it.
        auto started = Clock::now();
        auto until = started + options.operationTimeout + std::chrono::seconds(3);
        proto::Message reply;
        for (;;) {
            Wait w = Receive(reply, until);
            if (w == Wait::Message && reply.type == proto::MessageType::Result &&
                reply.id == request.id)
                break;
            if (w == Wait::Message) continue;  // a stale answer: ignore it
            bool late = Clock::now() - started >= options.operationTimeout;
            if (type == proto::MessageType::Save) RemovePartial(path);
            wp::ProcessEnd end;
            if (w == Wait::Timeout)
                Stop(false);
            else
                end = Ended();
            // Not retried: the document would need as much again on a fresh worker.
            if (ExitedWith(end, WorkerExit::MemoryCeiling))
                throw EngineError(type == proto::MessageType::Load ? EngineFailure::LoadFailed
                                                                   : EngineFailure::SaveFailed,
                                  std::string(type == proto::MessageType::Load ? "Cannot convert "
                                                                               : "Cannot save ") +
                                      name + ": it needs more than " +
                                      std::to_string(options.memoryLimitMiB) + " MB to " +
                                      (type == proto::MessageType::Load ? "open" : "convert"));
            if (w == Wait::Timeout || late || ExitedWith(end, WorkerExit::Deadline))
                throw EngineError(EngineFailure::Deadline,
                                  "The document engine did not finish " + std::string(doing) + " " +
                                      name + " within " + Seconds(options.operationTimeout));
            if (w == Wait::Garbage)
                throw EngineError(EngineFailure::Protocol,
                                  "The document engine sent an unreadable answer while " +
                                      std::string(doing) + " " + name);
            std::string how = Describe(end);
            throw EngineError(EngineFailure::EngineDied, "The document engine stopped while " +
                                                             std::string(doing) + " " + name +
                                                             (how.empty() ? "" : ": " + how));
        }
        lastMemory = reply.memoryBytes;
        return reply;
    }

    bool MemoryDue(double share) const {
        if (options.recycleAboveBytes && lastMemory > options.recycleAboveBytes * share)
            return true;
        const double growth = options.recycleAboveGrowth;
        return growth > 1 && baselineMemory &&
               lastMemory > baselineMemory * (1 + (growth - 1) * share);
    }

    // Replaces the worker when its quota is reached or its memory grew too far, by the spare
    // when there is one.
    void RecycleIfDue() {
        if (state != State::Ready) return;
        if (documents >= options.recycleAfterDocuments || MemoryDue(1.0) || fontsRegistered)
            Stop(true);
    }

    // After a document: starts the spare shortly before a replacement is due.
    void PrepareSpareIfDue() {
        if (state != State::Ready || spare.valid) return;
        if (documents == kBaselineDocuments && !baselineMemory) baselineMemory = lastMemory;
        if (documents + kSpareLead >= options.recycleAfterDocuments || MemoryDue(0.8) ||
            fontsRegistered)
            LaunchSpare();
    }

    // One load on the current (or a fresh) worker.
    void LoadOnce(const std::string& path, SourceFormat format) {
        proto::Message reply =
            Command(proto::MessageType::Load, path, static_cast<int>(format), "loading");
        ++documents;
        // Even a load that fails may have read the fonts.
        if (loadedEmbedsFonts) fontsRegistered = true;
        if (reply.status != proto::Status::Ok)
            throw EngineError(FailureFor(reply.status), "Cannot convert " + DisplayNameOf(path) +
                                                            ": " + reply.text +
                                                            OldOfficeNote(reply.status));
    }

    // An office older than any we test with is the likeliest cause of a failure it reports.
    std::string OldOfficeNote(proto::Status status) const {
        if (!officeTooOld ||
            (status != proto::Status::LoadFailed && status != proto::Status::SaveFailed))
            return "";
        return " (" + OfficeTooOldText() + ")";
    }

    std::string OfficeTooOldText() const {
        return (officeName.empty() ? std::string("the office") : officeName) +
               " is older than LibreOffice " + std::to_string(proto::kOldestOfficeMajor) + "." +
               std::to_string(proto::kOldestOfficeMinor) + ", the oldest version tested";
    }

    SavedPdf SaveOnce(const std::string& path) {
        proto::Message reply = Command(proto::MessageType::Save, path, kFormatPdf, "saving");
        if (reply.status != proto::Status::Ok)
            throw EngineError(FailureFor(reply.status), "Cannot save " + DisplayNameOf(path) +
                                                            ": " + reply.text +
                                                            OldOfficeNote(reply.status));
        return SavedPdf{reply.pages};
    }

    // A worker died under this document: the second time the document fails.
    void CountDeath() {
        if (++deathsThisDocument >= 2)
            throw EngineError(EngineFailure::EngineDied,
                              "Cannot convert " + DisplayNameOf(loadedPath) +
                                  ": it crashed the document engine twice");
    }

    void LoadDocument(const std::string& path, SourceFormat format) {
        loadedPath.clear();
        deathsThisDocument = 0;
        const InputVerdict verdict = CheckInputFile(path);
        const InputKind kind = verdict.kind;
        eightBitText = kind == InputKind::PlainText && verdict.text == TextEncoding::EightBit;
        refuseTextImport = verdict.officeDetects;
        wordImport = verdict.wordImport;
        loadedEmbedsFonts = verdict.embedsFonts;
        loadedPath = path;
        loadedFormat = format;
        RecycleIfDue();
        for (;;) {
            try {
                LoadOnce(path, format);
                return;
            } catch (const EngineError& e) {
                if (e.failure() == EngineFailure::EngineDied) {
                    CountDeath();
                    continue;
                }
                loadedPath.clear();
                // An encrypted file the office could not open even with the default password
                // needs the password it was saved with; some the office cannot even recognise.
                if (kind == InputKind::Encrypted && e.failure() == EngineFailure::LoadFailed)
                    throw EngineError(EngineFailure::PasswordProtected,
                                      "Cannot convert " + DisplayNameOf(path) +
                                          ": the document is password-protected");
                // Content the check could not name and the office could not read either.
                if (kind == InputKind::Unknown && e.failure() == EngineFailure::LoadFailed)
                    throw EngineError(
                        EngineFailure::Refused,
                        "Cannot convert " + DisplayNameOf(path) + ": it is " + verdict.reason);
                throw;
            }
        }
    }

    SavedPdf SavePdf(const std::string& path) {
        lastPages = 0;
        for (;;) {
            try {
                SavedPdf saved = SaveOnce(path);
                lastPages = saved.pages;
                PrepareSpareIfDue();
                return saved;
            } catch (const EngineError& e) {
                if (e.failure() != EngineFailure::EngineDied || loadedPath.empty()) throw;
                CountDeath();
            }
            // The fresh worker holds nothing yet: the document is loaded again first. A second
            // death here is the document's second.
            try {
                LoadOnce(loadedPath, loadedFormat);
            } catch (const EngineError& e) {
                if (e.failure() == EngineFailure::EngineDied) CountDeath();
                throw;
            }
        }
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

void WorkerEngine::WaitUntilReady() {
    impl_->Handshake();
}

void WorkerEngine::Abort() {
    impl_->Abort();
}

int WorkerEngine::Load(const std::string& path, int, int format, bool) {
    CheckLoadFormat(path, format);
    impl_->LoadDocument(path, static_cast<SourceFormat>(format));
    return 0;
}

int WorkerEngine::Save(const std::string& path, int, int format, bool) {
    CheckSaveFormat(path, format);
    impl_->SavePdf(path);
    return 0;
}

void WorkerEngine::LoadDocument(const std::string& path, SourceFormat format) {
    impl_->LoadDocument(path, format);
}

SavedPdf WorkerEngine::SavePdf(const std::string& path) {
    return impl_->SavePdf(path);
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
std::uint32_t WorkerEngine::WorkerProcessId() const {
    return impl_->workerPid;
}
std::string WorkerEngine::IsolationWarning() const {
    return impl_->isolationWarning;
}
std::string WorkerEngine::OfficeVersionWarning() const {
    return impl_->officeTooOld ? impl_->OfficeTooOldText() : "";
}
std::string WorkerEngine::OfficeName() const {
    return impl_->officeName;
}

std::unique_ptr<DocumentEngine> MakeWorkerEngine(const WorkerEngineOptions& options) {
    return std::make_unique<WorkerEngine>(options);
}

std::string WorkerStartProblem(const WorkerEngineOptions& options) {
    if (options.workerPath.empty()) return "no engine program was found";
    std::string error;
    wp::CommandFor(options.workerPath, options.interpreter, error);
    return error;
}

}  // namespace vellumor
