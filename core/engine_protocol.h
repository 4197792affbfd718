// The engine protocol: the messages between a worker client and vellumor-engine, and their
// framing. Portable byte handling only; the sockets live with the client and the worker.
//
// A frame is a 32-bit little-endian payload length followed by the payload. The payload starts
// with one byte naming the message; the fields follow in the order listed below, integers
// little-endian, strings as a 32-bit length and that many bytes (UTF-8, any byte allowed).
// engine/PROTOCOL.md describes the conversation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellumor::protocol {

inline constexpr std::uint16_t kVersion = 2;
inline constexpr std::uint32_t kMaxPayload = 1u << 20;  // paths are short; anything bigger is bad
inline constexpr std::size_t kTokenBytes = 16;          // the token is 32 hexadecimal characters
inline constexpr const char* kTokenVariable = "VELLUMOR_ENGINE_TOKEN";

enum class MessageType : std::uint8_t {
    Hello = 1,   // worker -> client: version, token, pid
    Ready = 2,   // worker -> client: status, text, officeMajor, officeMinor, isolationProblem
    Load = 3,    // client -> worker: id, deadlineMs, text (path), reserved, format, flag
    Save = 4,    // client -> worker: id, deadlineMs, text (path), reserved, format, flag, options
    Quit = 5,    // client -> worker: nothing
    Result = 6,  // worker -> client: id, status, value, pages, memoryBytes, text (message)
};

// Outcome of a command. Anything but Ok carries a message meant for the user.
enum class Status : std::uint8_t {
    Ok = 0,
    NotFound = 1,           // the source is missing or unreadable
    Refused = 2,            // the input check refused the content
    PasswordProtected = 3,  // the document is encrypted
    LoadFailed = 4,         // the office could not read the document
    SaveFailed = 5,         // the office could not write the PDF, or the rename failed
    NoDocument = 6,         // Save without a successful Load
    BadRequest = 7,         // unknown format code or similar
    StartFailed = 8,        // Ready only: the office did not start
};

// Save options.
inline constexpr std::uint32_t kOptionPdfA = 1;  // write PDF/A-2b

// Load's reserved field: bit 0 lets the office read the local files a document links to
// (pictures, included text; never the network); bit 1 says the file is plain text in an 8-bit
// Windows code page (the office would take it for UTF-8); bit 2 says the input check could not
// name the content: the office's own detection decides, and a file it would import with a
// plain-text filter is answered Refused, "it is " + kUnrecognisedContent (core/input_check.h),
// without being loaded (nor kept when the load reads it as text after all); bits 3 to 7 name
// the Word format the input check found (WordImport of core/input_check.h, 0: none), which is
// loaded with that format's own import filter only, and fails when the office cannot read it so;
// bits 8 to 30 are the memory ceiling in MiB for this document's Load and Save (0: none). A
// worker above the ceiling ends (exit code WorkerExit::MemoryCeiling).
inline constexpr std::int32_t kLoadAllowLocalLinks = 1;
inline constexpr std::int32_t kLoadEightBitText = 2;
inline constexpr std::int32_t kLoadRefuseTextImport = 4;
inline constexpr int kLoadImportShift = 3;
inline constexpr std::uint32_t kLoadImportMask = 0x1F;
inline constexpr int kLoadCeilingShift = 8;
inline constexpr std::uint32_t kMaxCeilingMiB = (1u << 23) - 1;
inline std::int32_t LoadReserved(bool allowLocalLinks, std::uint32_t ceilingMiB,
                                 bool eightBitText = false, bool refuseTextImport = false,
                                 std::uint8_t wordImport = 0) {
    if (ceilingMiB > kMaxCeilingMiB) ceilingMiB = kMaxCeilingMiB;
    return static_cast<std::int32_t>(
        (ceilingMiB << kLoadCeilingShift) | (allowLocalLinks ? kLoadAllowLocalLinks : 0) |
        (eightBitText ? kLoadEightBitText : 0) | (refuseTextImport ? kLoadRefuseTextImport : 0) |
        ((wordImport & kLoadImportMask) << kLoadImportShift));
}
inline std::uint8_t LoadWordImport(std::int32_t reserved) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(reserved) >> kLoadImportShift) &
                                     kLoadImportMask);
}
inline std::uint64_t LoadMemoryCeilingBytes(std::int32_t reserved) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(reserved)) >> kLoadCeilingShift)
           << 20;
}

// The oldest office the workers are tested with; an older one is named in failures.
inline constexpr std::uint16_t kOldestOfficeMajor = 7;
inline constexpr std::uint16_t kOldestOfficeMinor = 4;

struct Message {
    MessageType type = MessageType::Quit;
    std::uint16_t version = 0;
    std::string token;
    std::uint32_t pid = 0;
    std::uint32_t id = 0;
    std::uint32_t deadlineMs = 0;
    std::string text;  // path of Load/Save, message of Result, the office's name in Ready
    std::int32_t reserved = 0;
    std::int32_t format = 0;
    bool flag = false;
    std::uint32_t options = 0;
    Status status = Status::Ok;
    std::int32_t value = 0;
    std::int32_t pages = 0;
    std::uint64_t memoryBytes = 0;
    // Ready: the office's version (0.0 when unknown) and, when the worker could not give itself
    // a network of its own, why not (empty: it has none).
    std::uint16_t officeMajor = 0;
    std::uint16_t officeMinor = 0;
    std::string isolationProblem;

    bool operator==(const Message&) const = default;
};

// The payload of a message (no length prefix), and the whole frame.
std::string EncodePayload(const Message& message);
std::string EncodeFrame(const Message& message);

// Reads one payload. False (with a reason) for an unknown type, a short or over-long payload,
// an out-of-range enum value or a string that runs past the end.
bool DecodePayload(std::string_view payload, Message& out, std::string* reason = nullptr);

// Collects bytes as they arrive and hands out whole messages.
class FrameReader {
  public:
    enum class Result { NeedMore, Message, Malformed };

    void Append(const void* data, std::size_t size);
    // Message: out holds the next message. Malformed: the stream is unusable from here on
    // (reason says why); every later call answers Malformed too.
    Result Next(Message& out, std::string* reason = nullptr);
    std::size_t Buffered() const { return buffer_.size() - start_; }

  private:
    std::string buffer_;
    std::size_t start_ = 0;
    bool broken_ = false;
    std::string brokenReason_;
};

std::string_view StatusName(Status status);

// The hidden folder, inside the target's folder, in which the worker with this process id
// writes a PDF (under the target's own name) before renaming it over the target. The office
// keeps its temporary and lock files beside what it writes, so they all stay in there; a client
// whose worker died removes the folder whole.
std::string PartialFolderName(std::uint32_t pid);

// Token text: 32 lower-case hexadecimal characters from 16 random bytes.
std::string TokenText(const std::uint8_t (&bytes)[kTokenBytes]);
// Compares in time independent of where the texts differ.
bool TokensEqual(std::string_view a, std::string_view b);

}  // namespace vellumor::protocol
