// The numbers the program and its document engines agree on: the engine's format codes and
// the exit codes of a worker process. Named here once; everything else uses these names.
#pragma once

namespace vellumor {

// Format codes of the engine's Load and Save.
inline constexpr int kFormatDoc = 9;    // Load: Word 97-2003 document (.doc)
inline constexpr int kFormatDocx = 13;  // Load: Word 2007 and later document (.docx)
inline constexpr int kFormatPdf = 12;   // Save: PDF

enum class SourceFormat : int { Doc = kFormatDoc, Docx = kFormatDocx };

// How a worker process ends. The client reads these to tell an overrun deadline from a crash.
enum class WorkerExit : int {
    Done = 0,           // Quit, or the end of its input
    StartFailed = 1,    // the office did not start
    Usage = 2,          // started without a port or token
    ClientGone = 3,     // the client's connection closed
    Deadline = 4,       // a command overran its deadline
    Protocol = 5,       // the client sent something unreadable
    OfficeCrashed = 6,  // the office it drives died under it
    MemoryCeiling = 7,  // the document needed more memory than the client allowed
};

}  // namespace vellumor
