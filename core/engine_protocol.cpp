#include "core/engine_protocol.h"

namespace vellumor::protocol {

namespace {

class Writer {
  public:
    void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void U16(std::uint16_t v) { Le(v, 2); }
    void U32(std::uint32_t v) { Le(v, 4); }
    void I32(std::int32_t v) { Le(static_cast<std::uint32_t>(v), 4); }
    void U64(std::uint64_t v) { Le(v, 8); }
    void Str(std::string_view s) {
        U32(static_cast<std::uint32_t>(s.size()));
        out_.append(s);
    }
    std::string Take() { return std::move(out_); }

  private:
    void Le(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
    std::string out_;
};

class Reader {
  public:
    explicit Reader(std::string_view data) : data_(data) {}
    bool U8(std::uint8_t& v) {
        std::uint64_t x;
        if (!Le(x, 1)) return false;
        v = static_cast<std::uint8_t>(x);
        return true;
    }
    bool U16(std::uint16_t& v) {
        std::uint64_t x;
        if (!Le(x, 2)) return false;
        v = static_cast<std::uint16_t>(x);
        return true;
    }
    bool U32(std::uint32_t& v) {
        std::uint64_t x;
        if (!Le(x, 4)) return false;
        v = static_cast<std::uint32_t>(x);
        return true;
    }
    bool I32(std::int32_t& v) {
        std::uint32_t x;
        if (!U32(x)) return false;
        v = static_cast<std::int32_t>(x);
        return true;
    }
    bool U64(std::uint64_t& v) { return Le(v, 8); }
    bool Bool(bool& v) {
        std::uint8_t x;
        if (!U8(x) || x > 1) return false;
        v = x != 0;
        return true;
    }
    bool Str(std::string& s) {
        std::uint32_t n;
        if (!U32(n) || n > data_.size() - pos_) return false;
        s.assign(data_.substr(pos_, n));
        pos_ += n;
        return true;
    }
    bool AtEnd() const { return pos_ == data_.size(); }

  private:
    bool Le(std::uint64_t& v, int bytes) {
        if (data_.size() - pos_ < static_cast<std::size_t>(bytes)) return false;
        v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data_[pos_ + i])) << (8 * i);
        pos_ += bytes;
        return true;
    }
    std::string_view data_;
    std::size_t pos_ = 0;
};

bool Fail(std::string* reason, const char* text) {
    if (reason) *reason = text;
    return false;
}

}  // namespace

std::string EncodePayload(const Message& m) {
    Writer w;
    w.U8(static_cast<std::uint8_t>(m.type));
    switch (m.type) {
        case MessageType::Hello:
            w.U16(m.version);
            w.Str(m.token);
            w.U32(m.pid);
            break;
        case MessageType::Ready:
            w.U8(static_cast<std::uint8_t>(m.status));
            w.Str(m.text);
            w.U16(m.officeMajor);
            w.U16(m.officeMinor);
            w.Str(m.isolationProblem);
            break;
        case MessageType::Load:
        case MessageType::Save:
            w.U32(m.id);
            w.U32(m.deadlineMs);
            w.Str(m.text);
            w.I32(m.reserved);
            w.I32(m.format);
            w.U8(m.flag ? 1 : 0);
            if (m.type == MessageType::Save) w.U32(m.options);
            break;
        case MessageType::Quit:
            break;
        case MessageType::Result:
            w.U32(m.id);
            w.U8(static_cast<std::uint8_t>(m.status));
            w.I32(m.value);
            w.I32(m.pages);
            w.U64(m.memoryBytes);
            w.Str(m.text);
            break;
    }
    return w.Take();
}

std::string EncodeFrame(const Message& message) {
    std::string payload = EncodePayload(message);
    std::string frame;
    frame.reserve(payload.size() + 4);
    auto n = static_cast<std::uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
    frame += payload;
    return frame;
}

bool DecodePayload(std::string_view payload, Message& out, std::string* reason) {
    Reader r(payload);
    Message m;
    std::uint8_t type;
    if (!r.U8(type)) return Fail(reason, "empty payload");
    bool ok = true;
    std::uint8_t status = 0;
    switch (static_cast<MessageType>(type)) {
        case MessageType::Hello:
            ok = r.U16(m.version) && r.Str(m.token) && r.U32(m.pid);
            break;
        case MessageType::Ready:
            ok = r.U8(status) && r.Str(m.text) && r.U16(m.officeMajor) && r.U16(m.officeMinor) &&
                 r.Str(m.isolationProblem);
            break;
        case MessageType::Load:
        case MessageType::Save:
            ok = r.U32(m.id) && r.U32(m.deadlineMs) && r.Str(m.text) && r.I32(m.reserved) &&
                 r.I32(m.format) && r.Bool(m.flag);
            if (ok && type == static_cast<std::uint8_t>(MessageType::Save)) ok = r.U32(m.options);
            break;
        case MessageType::Quit:
            break;
        case MessageType::Result:
            ok = r.U32(m.id) && r.U8(status) && r.I32(m.value) && r.I32(m.pages) &&
                 r.U64(m.memoryBytes) && r.Str(m.text);
            break;
        default:
            return Fail(reason, "unknown message type");
    }
    if (!ok) return Fail(reason, "truncated or invalid field");
    if (!r.AtEnd()) return Fail(reason, "trailing bytes after the message");
    if (status > static_cast<std::uint8_t>(Status::StartFailed))
        return Fail(reason, "unknown status");
    m.type = static_cast<MessageType>(type);
    m.status = static_cast<Status>(status);
    out = std::move(m);
    return true;
}

void FrameReader::Append(const void* data, std::size_t size) {
    if (broken_) return;
    // Drop what was consumed before it grows without bound.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(static_cast<const char*>(data), size);
}

FrameReader::Result FrameReader::Next(Message& out, std::string* reason) {
    if (broken_) {
        if (reason) *reason = brokenReason_;
        return Result::Malformed;
    }
    if (Buffered() < 4) return Result::NeedMore;
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n |= static_cast<std::uint32_t>(static_cast<unsigned char>(buffer_[start_ + i])) << (8 * i);
    if (n == 0 || n > kMaxPayload) {
        broken_ = true;
        brokenReason_ = n == 0 ? "empty frame" : "frame too long";
        if (reason) *reason = brokenReason_;
        return Result::Malformed;
    }
    if (Buffered() - 4 < n) return Result::NeedMore;
    std::string why;
    bool ok = DecodePayload(std::string_view(buffer_).substr(start_ + 4, n), out, &why);
    start_ += 4 + n;
    if (!ok) {
        broken_ = true;
        brokenReason_ = why;
        if (reason) *reason = why;
        return Result::Malformed;
    }
    return Result::Message;
}

std::string_view StatusName(Status status) {
    switch (status) {
        case Status::Ok:
            return "ok";
        case Status::NotFound:
            return "not found";
        case Status::Refused:
            return "refused";
        case Status::PasswordProtected:
            return "password-protected";
        case Status::LoadFailed:
            return "load failed";
        case Status::SaveFailed:
            return "save failed";
        case Status::NoDocument:
            return "no document";
        case Status::BadRequest:
            return "bad request";
        case Status::StartFailed:
            return "start failed";
    }
    return "unknown";
}

std::string PartialFolderName(std::uint32_t pid) {
    return ".vellumor-" + std::to_string(pid) + ".part";
}

std::string TokenText(const std::uint8_t (&bytes)[kTokenBytes]) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (auto b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

bool TokensEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
    return diff == 0;
}

}  // namespace vellumor::protocol
