// WorkerEngine: the program's DocumentEngine, a client of the vellumor-engine worker process.
//
//   vellumor::WorkerEngineOptions options;
//   options.workerPath = vellumor::ChooseWorker();  // batch/worker_choice.h
//   std::unique_ptr<vellumor::DocumentEngine> engine = vellumor::MakeWorkerEngine(options);
//   engine->Load("C:\\Docs\\a.docx", 0, 13, false);  // throws vellumor::EngineError
//   engine->Save("D:\\Output\\a.pdf", 0, 12, false);
//
// The worker is either the executable vellumor-engine or the script worker vellumor_engine.py,
// which a Python with the office's UNO bridge runs (on Windows the python.exe the office
// installs). Both speak engine/PROTOCOL.md.
//
// Every file goes through the input check (CheckInputFile) before the worker sees it.
//
// Starting never blocks: the constructor (or Start()) launches the worker and returns at once;
// the worker's handshake is completed by the first Load or Save, which waits for it up to
// startTimeout. A window can therefore create the engine while it is being created and paint
// before the office is up.
//
// Every Load and Save carries a deadline (operationTimeout). A worker that overruns it, dies or
// breaks the protocol costs that one operation: the call throws EngineError with a message
// naming the file and the reason, and the next Load starts a fresh worker. A worker that dies
// (a crash, a signal, a lost connection) is replaced at once and the document is tried again
// from its load; only a document that ends two workers fails ("it crashed the document engine
// twice"). An overrun deadline is not retried. Workers are also
// replaced after recycleAfterDocuments loads, when their resident memory exceeds
// recycleAboveBytes, or when it has grown by 30% since their first fifty documents; the
// replacement is started a little before, so it is ready when it takes over.
//
// The connection is TCP on 127.0.0.1: the client listens on port 0, starts the worker with the
// port as its argument and a fresh 128-bit token in its environment, accepts only the one
// connection that presents the token and then closes the listener. Under Wine the Windows
// client drives the Linux worker this way and hands it Unix paths.
//
// One WorkerEngine is used from one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/document_engine.h"

namespace vellumor {

struct WorkerEngineOptions {
    std::string workerPath;   // the worker executable or script (ChooseWorker)
    std::string interpreter;  // for a script worker; empty: the platform's choice
    std::chrono::milliseconds operationTimeout{std::chrono::seconds(120)};
    std::chrono::milliseconds startTimeout{std::chrono::seconds(60)};
    int recycleAfterDocuments = 1000;
    std::uint64_t recycleAboveBytes = std::uint64_t{1} << 30;
    // Replaced also when resident memory exceeds this many times what it was after the first
    // documents (the office's caches are warm by then); 0 turns it off.
    double recycleAboveGrowth = 1.3;
    bool pdfA = false;  // Save writes PDF/A-2b
    // The office may read the local files a document links to (pictures, included text). It
    // never reaches the network: the worker has no network of its own where the system allows.
    bool allowLocalLinks = false;
    // A worker whose document needs more resident memory fails that document ("it needs more
    // than N MB to open") and is replaced; 0: no ceiling.
    std::uint32_t memoryLimitMiB = 4096;
    bool startNow = true;  // launch the worker in the constructor
};

class WorkerEngine : public DocumentEngine, public ConversionEngine {
  public:
    explicit WorkerEngine(WorkerEngineOptions options);
    ~WorkerEngine() override;
    WorkerEngine(const WorkerEngine&) = delete;
    WorkerEngine& operator=(const WorkerEngine&) = delete;

    // Launches a worker unless one is running or starting; returns at once.
    void Start();
    // Waits until the worker's office is up, as the first Load would; throws EngineError when
    // it does not start. What the greeting tells (OfficeName()) is known from then on.
    void WaitUntilReady() override;
    // From any thread: kills the worker now and starts no other. The operation in progress
    // and every later one fail with EngineError.
    void Abort() override;

    int Load(const std::string& path, int reserved, int format, bool flag) override;
    int Save(const std::string& path, int reserved, int format, bool flag) override;

    void LoadDocument(const std::string& path, SourceFormat format) override;
    SavedPdf SavePdf(const std::string& path) override;

    // Pages of the PDF written by the last successful Save.
    int LastPageCount() const;
    // The worker's resident memory after its last command, in bytes.
    std::uint64_t LastWorkerMemory() const;
    // How many workers this engine has started so far.
    int WorkersStarted() const;
    // The process id the current worker gave in its greeting; 0 before the first.
    std::uint32_t WorkerProcessId() const;
    // Why the current worker runs without a network of its own ("no network isolation:
    // unshare refused (...)"), from its greeting; empty when it has one, or before the first.
    std::string IsolationWarning() const;
    // When the current worker's office is older than the oldest one the workers are tested with,
    // a sentence that says so ("LibreOffice 6.4.7.2 is older than LibreOffice 7.4, the oldest
    // version tested"); else empty. Failed loads and saves carry it too.
    std::string OfficeVersionWarning() const;
    // The office as the current worker's greeting names it ("LibreOffice 25.2.3.2").
    std::string OfficeName() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

std::unique_ptr<DocumentEngine> MakeWorkerEngine(const WorkerEngineOptions& options);

// Why a worker with these options cannot be started at all (its script has no Python to run
// it, say), or empty when it can be tried.
std::string WorkerStartProblem(const WorkerEngineOptions& options);

}  // namespace vellumor
