// Fuzzes what the engine reads from outside: protocol frames (the worker and the client each
// read the other's bytes) and document contents (the worker's input check). Built as a
// libFuzzer target with clang when it is there, else with a small driver that replays files.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/engine_protocol.h"
#include "core/input_check.h"
#include "core/word_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace proto = vellumor::protocol;
    // Frames: whatever decodes must encode back to the same message.
    proto::FrameReader reader;
    reader.Append(data, size);
    proto::Message message;
    while (reader.Next(message) == proto::FrameReader::Result::Message) {
        proto::Message again;
        if (!proto::DecodePayload(proto::EncodePayload(message), again) || !(again == message))
            std::abort();
    }
    // Document contents: any verdict is fine; reading out of bounds or looping is not.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    vellumor::CheckBytes(bytes);
    vellumor::RecordedWordPages(
        [&bytes](std::uint64_t offset, void* buffer, std::size_t n) -> std::size_t {
            if (offset >= bytes.size()) return 0;
            const std::size_t got = std::min<std::size_t>(n, bytes.size() - offset);
            std::copy_n(bytes.data() + offset, got, static_cast<char*>(buffer));
            return got;
        },
        bytes.size());
    return 0;
}
