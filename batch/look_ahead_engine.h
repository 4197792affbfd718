// LookAheadEngine: the window's DocumentEngine over several workers. While the run saves one
// row, further workers already convert the rows after it, each to a PDF in a private temporary
// folder; the run's own Load and Save then take that result, and only Save puts the PDF under
// its final name. So the run sees one engine that loads and saves in its order, and the output
// folder holds exactly the PDFs of the rows the run reached.
//
//   LookAheadEngine engine([options] { return std::make_unique<WorkerEngine>(options); });
//   engine.RowReached(0, rows, plan);  // before each row's Load: look at the rows after it
//   engine.Load(path, 0, 13, false);   // waits for that row's load; throws its failure
//   engine.Save(pdf, 0, 12, false);    // waits for its PDF and moves it into place
//   engine.RunEnded();                 // throws away what was done ahead, aborting work
//                                      // in flight; nothing of the run is left when it returns
//
// A result done ahead is keyed by source path, load format, PDF path and the source's size and
// last-write time, all read when the row was taken; it is used only when Load and Save ask for
// exactly that. A row removed, renamed or reordered meanwhile is converted as the run then
// names it, and the work done for the stale row is thrown away. A failure found ahead surfaces
// at that row's Load (or Save) with the message one worker would have given: a load failure is
// the same worker client's own; a save that could not be done ahead is done again at Save,
// straight to the PDF's name, so its failure is the engine's own too.
//
// The workers are a WorkerPool (batch/worker_pool.h): as many as WorkersFor allows by default,
// and never more than the rows the run has left; the first starts with the engine, so its
// office is up by the first run. A worker that cannot start leaves its rows to the others. The
// workers' threads touch no window and read no list: plans are read on the run's thread, in
// RowReached.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/document_engine.h"

namespace vellumor {

struct LookAheadOptions {
    int workers = 0;                      // 0: as many as the machine allows (WorkersFor)
    std::uint32_t memoryLimitMiB = 4096;  // each worker's ceiling, for WorkersFor
    int rowsPerWorker = 2;   // rows taken ahead for each worker, the current row included
    bool startFirst = true;  // make the first worker at once
};

class LookAheadEngine : public DocumentEngine, public LookAhead {
  public:
    // make is called on each worker's thread and gives that worker its own engine.
    using EngineMaker = std::function<std::unique_ptr<ConversionEngine>()>;
    explicit LookAheadEngine(EngineMaker make, LookAheadOptions options = {});
    ~LookAheadEngine() override;
    LookAheadEngine(const LookAheadEngine&) = delete;
    LookAheadEngine& operator=(const LookAheadEngine&) = delete;

    int Load(const std::string& path, int reserved, int format, bool flag) override;
    int Save(const std::string& path, int reserved, int format, bool flag) override;

    void RowReached(int row, int rows, const ConversionPlan& plan) override;
    void RunEnded() override;

    // What happened so far: workers made, rows whose result done ahead was used, and results
    // thrown away because their row had changed or the run ended.
    int WorkersStarted() const;
    int RowsTakenAhead() const;
    int ResultsThrownAway() const;
    // The folder the PDFs done ahead wait in; empty before the first is taken.
    std::string PrivateFolder() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The window's engine over the worker of a program in folder (batch/worker_choice.h): a
// LookAheadEngine whose workers are WorkerEngines. Null when no worker can run there.
std::unique_ptr<DocumentEngine> MakeLookAheadEngineIn(const std::string& folder,
                                                      LookAheadOptions options = {});

}  // namespace vellumor
