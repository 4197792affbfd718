#include "core/engine_protocol.h"

#include <gtest/gtest.h>

#include <string>

using namespace vellumor::protocol;

namespace {

Message Sample(MessageType type) {
    Message m;
    m.type = type;
    switch (type) {
        case MessageType::Hello:
            m.version = kVersion;
            m.token = "00112233445566778899aabbccddeeff";
            m.pid = 4242;
            break;
        case MessageType::Ready:
            m.status = Status::Ok;
            m.text = "LibreOffice 25.2.3.2";
            m.officeMajor = 25;
            m.officeMinor = 2;
            m.isolationProblem = "unshare refused (Operation not permitted)";
            break;
        case MessageType::Load:
        case MessageType::Save:
            m.id = 7;
            m.deadlineMs = 120000;
            // Paths may hold any byte: newlines, NULs, "%", "#", UTF-8.
            m.text = std::string("/tmp/a b%20#\n\xE4\xB8\xAD", 17) + std::string(1, '\0') + "x.doc";
            m.reserved = -1;
            m.format = type == MessageType::Load ? 13 : 12;
            m.flag = true;
            if (type == MessageType::Save) m.options = kOptionPdfA;
            break;
        case MessageType::Quit:
            break;
        case MessageType::Result:
            m.id = 9;
            m.status = Status::PasswordProtected;
            m.value = -1;
            m.pages = 180;
            m.memoryBytes = 0x1234567890ull;
            m.text = "the document is password-protected";
            break;
    }
    return m;
}

const MessageType kAll[] = {MessageType::Hello, MessageType::Ready, MessageType::Load,
                            MessageType::Save,  MessageType::Quit,  MessageType::Result};

}  // namespace

TEST(EngineProtocol, EveryMessageSurvivesARoundTripEvenFedByteByByte) {
    std::string stream;
    for (auto type : kAll) stream += EncodeFrame(Sample(type));
    FrameReader reader;
    std::vector<Message> got;
    for (char c : stream) {
        reader.Append(&c, 1);
        Message m;
        while (reader.Next(m) == FrameReader::Result::Message) got.push_back(m);
    }
    ASSERT_EQ(got.size(), std::size(kAll));
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], Sample(kAll[i])) << i;
    EXPECT_EQ(reader.Buffered(), 0u);
}

TEST(EngineProtocol, MalformedFramesBreakTheStreamForGood) {
    auto broken = [](const std::string& bytes) {
        FrameReader reader;
        reader.Append(bytes.data(), bytes.size());
        Message m;
        std::string why;
        auto first = reader.Next(m, &why);
        EXPECT_FALSE(why.empty());
        // Once broken, valid data after it is not read either.
        std::string good = EncodeFrame(Sample(MessageType::Quit));
        reader.Append(good.data(), good.size());
        EXPECT_EQ(reader.Next(m), FrameReader::Result::Malformed);
        return first;
    };
    EXPECT_EQ(broken(std::string("\0\0\0\0", 4)), FrameReader::Result::Malformed);  // empty
    EXPECT_EQ(broken(std::string("\xff\xff\xff\x7f", 4)), FrameReader::Result::Malformed);
    EXPECT_EQ(broken(std::string("\x01\0\0\0\x63", 5)), FrameReader::Result::Malformed);  // type 99

    // A string length that runs past the payload.
    std::string payload = EncodePayload(Sample(MessageType::Load));
    payload[9] = '\x7f';
    std::string frame =
        std::string(1, static_cast<char>(payload.size())) + std::string(3, '\0') + payload;
    EXPECT_EQ(broken(frame), FrameReader::Result::Malformed);

    // Trailing bytes and a boolean other than 0 or 1.
    payload = EncodePayload(Sample(MessageType::Quit)) + "x";
    Message m;
    EXPECT_FALSE(DecodePayload(payload, m));
    payload = EncodePayload(Sample(MessageType::Load));
    payload[payload.size() - 1] = 2;
    EXPECT_FALSE(DecodePayload(payload, m));
    // An unknown status.
    payload = EncodePayload(Sample(MessageType::Result));
    payload[5] = 77;
    EXPECT_FALSE(DecodePayload(payload, m));
}

TEST(EngineProtocol, PartialFramesWaitForMore) {
    std::string frame = EncodeFrame(Sample(MessageType::Result));
    FrameReader reader;
    reader.Append(frame.data(), frame.size() - 1);
    Message m;
    EXPECT_EQ(reader.Next(m), FrameReader::Result::NeedMore);
    reader.Append(frame.data() + frame.size() - 1, 1);
    EXPECT_EQ(reader.Next(m), FrameReader::Result::Message);
}

TEST(EngineProtocol, TokensAndPartialNames) {
    std::uint8_t bytes[kTokenBytes] = {0x00, 0x01, 0xab, 0xff};
    std::string token = TokenText(bytes);
    EXPECT_EQ(token.size(), 32u);
    EXPECT_EQ(token.substr(0, 8), "0001abff");
    EXPECT_TRUE(TokensEqual(token, token));
    EXPECT_FALSE(TokensEqual(token, token.substr(1)));
    std::string other = token;
    other.back() = '1';
    EXPECT_FALSE(TokensEqual(token, other));
    EXPECT_EQ(PartialFolderName(12), ".vellumor-12.part");
}

// The script worker's codec writes these same bytes (tests/engine/script_worker_test.py).
TEST(EngineProtocol, ReadyCarriesTheOfficeVersionAndTheIsolationState) {
    Message ready;
    ready.type = MessageType::Ready;
    ready.status = Status::Ok;
    ready.text = "LO";
    ready.officeMajor = 25;
    ready.officeMinor = 2;
    ready.isolationProblem = "no";
    const std::string expected(
        "\x12\x00\x00\x00\x02\x00\x02\x00\x00\x00LO\x19\x00\x02\x00\x02\x00\x00\x00no", 22);
    EXPECT_EQ(EncodeFrame(ready), expected);
}

// Load's reserved bits stay apart from each other and from the memory ceiling above them.
TEST(EngineProtocol, LoadReservedKeepsItsBitsApart) {
    EXPECT_EQ(LoadReserved(true, 0), kLoadAllowLocalLinks);
    EXPECT_EQ(LoadReserved(false, 0, true), kLoadEightBitText);
    EXPECT_EQ(LoadReserved(false, 0, false, true), kLoadRefuseTextImport);
    const std::int32_t all = LoadReserved(true, kMaxCeilingMiB + 5, true, true);
    EXPECT_EQ(all & 0xFF, kLoadAllowLocalLinks | kLoadEightBitText | kLoadRefuseTextImport);
    EXPECT_EQ(LoadMemoryCeilingBytes(all), static_cast<std::uint64_t>(kMaxCeilingMiB) << 20);
    EXPECT_EQ(LoadMemoryCeilingBytes(LoadReserved(false, 4096, false, true)), 4096ull << 20);
}
