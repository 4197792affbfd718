#include "core/layout.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vellumor {

LayoutError::LayoutError(int line, const std::string& what)
    : std::runtime_error("Layout line " + std::to_string(line) + ": " + what), line_(line) {}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsIdentifier(std::string_view s) {
    if (s.empty()) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
    });
}

std::optional<long long> ToNumber(std::string_view s) {
    long long value = 0;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+') ++first;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc{} || end != last || first == last) return std::nullopt;
    return value;
}

std::vector<LayoutToken> Tokenize(std::string_view s, int line) {
    std::vector<LayoutToken> tokens;
    size_t i = 0;
    while (i < s.size()) {
        if (IsBlank(s[i])) {
            ++i;
            continue;
        }
        LayoutToken token;
        if (s[i] == '"') {
            token.kind = LayoutToken::Kind::String;
            ++i;
            bool closed = false;
            while (i < s.size()) {
                char c = s[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i >= s.size()) break;
                    char e = s[i++];
                    if (e == 'n')
                        c = '\n';
                    else if (e == '"' || e == '\\')
                        c = e;
                    else
                        throw LayoutError(line, std::string("unknown escape \\") + e);
                }
                token.text += c;
            }
            if (!closed) throw LayoutError(line, "unterminated string");
        } else {
            size_t start = i;
            while (i < s.size() && !IsBlank(s[i]) && s[i] != '"') ++i;
            token.text = std::string(s.substr(start, i - start));
            if (auto n = ToNumber(token.text)) {
                token.kind = LayoutToken::Kind::Number;
                token.number = *n;
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

}  // namespace

LayoutNode ParseLayout(std::string_view text) {
    std::vector<LayoutNode> stack;
    std::optional<LayoutNode> root;
    int lineNumber = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;

        if (line == "}") {
            if (stack.empty()) throw LayoutError(lineNumber, "\"}\" without an open control");
            LayoutNode done = std::move(stack.back());
            stack.pop_back();
            if (stack.empty()) {
                if (root) throw LayoutError(lineNumber, "more than one top-level control");
                root = std::move(done);
            } else {
                stack.back().children.push_back(std::move(done));
            }
            continue;
        }
        if (line.back() == '{') {
            std::string_view head = Trim(line.substr(0, line.size() - 1));
            size_t colon = head.find(':');
            if (colon == std::string_view::npos)
                throw LayoutError(lineNumber, "expected \"Name: kind {\"");
            LayoutNode node;
            node.name = std::string(Trim(head.substr(0, colon)));
            node.kind = std::string(Trim(head.substr(colon + 1)));
            node.line = lineNumber;
            if (!IsIdentifier(node.name) || !IsIdentifier(node.kind))
                throw LayoutError(lineNumber, "bad control name or kind");
            if (stack.empty() && root)
                throw LayoutError(lineNumber, "more than one top-level control");
            stack.push_back(std::move(node));
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            throw LayoutError(lineNumber, "expected \"key = value\"");
        if (stack.empty()) throw LayoutError(lineNumber, "property outside a control");
        std::string key(Trim(line.substr(0, equals)));
        if (!IsIdentifier(key)) throw LayoutError(lineNumber, "bad property name");
        auto tokens = Tokenize(line.substr(equals + 1), lineNumber);
        if (tokens.empty()) throw LayoutError(lineNumber, "property \"" + key + "\" has no value");
        if (stack.back().Has(key))
            throw LayoutError(lineNumber, "property \"" + key + "\" given twice");
        stack.back().properties.emplace_back(std::move(key), std::move(tokens));
    }
    if (!stack.empty())
        throw LayoutError(stack.back().line, "control \"" + stack.back().name + "\" is not closed");
    if (!root) throw LayoutError(lineNumber, "no control");
    return std::move(*root);
}

bool LayoutNode::Has(std::string_view key) const {
    return Find(key) != nullptr;
}

const std::vector<LayoutToken>* LayoutNode::Find(std::string_view key) const {
    for (const auto& [k, v] : properties)
        if (k == key) return &v;
    return nullptr;
}

namespace {
[[noreturn]] void Bad(const LayoutNode& node, std::string_view key, std::string_view what) {
    throw LayoutError(node.line, node.name + "." + std::string(key) + ": " + std::string(what));
}

const LayoutToken* Single(const LayoutNode& node, std::string_view key) {
    const auto* tokens = node.Find(key);
    if (!tokens) return nullptr;
    if (tokens->size() != 1) Bad(node, key, "expected one value");
    return &tokens->front();
}
}  // namespace

int LayoutNode::Int(std::string_view key, int fallback) const {
    const LayoutToken* t = Single(*this, key);
    if (!t) return fallback;
    if (t->kind != LayoutToken::Kind::Number || t->number < -1000000 || t->number > 1000000)
        Bad(*this, key, "expected a number");
    return static_cast<int>(t->number);
}

std::string LayoutNode::Text(std::string_view key, std::string_view fallback) const {
    const LayoutToken* t = Single(*this, key);
    if (!t) return std::string(fallback);
    if (t->kind != LayoutToken::Kind::String) Bad(*this, key, "expected a quoted text");
    return t->text;
}

std::string LayoutNode::Word(std::string_view key, std::string_view fallback) const {
    const LayoutToken* t = Single(*this, key);
    if (!t) return std::string(fallback);
    if (t->kind != LayoutToken::Kind::Word) Bad(*this, key, "expected a word");
    return t->text;
}

bool LayoutNode::Flag(std::string_view key, bool fallback) const {
    const LayoutToken* t = Single(*this, key);
    if (!t) return fallback;
    if (t->text == "true") return true;
    if (t->text == "false") return false;
    Bad(*this, key, "expected true or false");
}

std::optional<LayoutColor> ParseLayoutColor(std::string_view word) {
    static constexpr std::pair<std::string_view, int> kSystem[] = {
        {"btnface", 15}, {"window", 5}, {"windowtext", 8}, {"highlight", 13}, {"highlighttext", 14},
    };
    for (auto [name, index] : kSystem)
        if (word == name) return LayoutColor{true, index};
    if (word.size() != 7 || word[0] != '#') return std::nullopt;
    unsigned value = 0;
    auto [end, error] = std::from_chars(word.data() + 1, word.data() + 7, value, 16);
    if (error != std::errc{} || end != word.data() + 7) return std::nullopt;
    LayoutColor c;
    c.r = static_cast<std::uint8_t>(value >> 16);
    c.g = static_cast<std::uint8_t>(value >> 8);
    c.b = static_cast<std::uint8_t>(value);
    return c;
}

std::optional<LayoutColor> LayoutNode::Color(std::string_view key) const {
    const LayoutToken* t = Single(*this, key);
    if (!t) return std::nullopt;
    auto c = ParseLayoutColor(t->text);
    if (!c) Bad(*this, key, "expected #RRGGBB or a system colour name");
    return c;
}

std::optional<LayoutFont> LayoutNode::Font(std::string_view key) const {
    const auto* tokens = Find(key);
    if (!tokens) return std::nullopt;
    if (tokens->size() < 2 || (*tokens)[0].kind != LayoutToken::Kind::String ||
        (*tokens)[1].kind != LayoutToken::Kind::Number)
        Bad(*this, key, "expected \"face\" height [bold] [italic] [underline]");
    LayoutFont font;
    font.face = (*tokens)[0].text;
    font.height = static_cast<int>((*tokens)[1].number);
    for (size_t i = 2; i < tokens->size(); ++i) {
        const std::string& style = (*tokens)[i].text;
        if (style == "bold")
            font.bold = true;
        else if (style == "italic")
            font.italic = true;
        else if (style == "underline")
            font.underline = true;
        else
            Bad(*this, key, "unknown font style \"" + style + "\"");
    }
    return font;
}

Align LayoutNode::AlignValue() const {
    std::string a = Word("align", "none");
    if (a == "none") return Align::None;
    if (a == "top") return Align::Top;
    if (a == "bottom") return Align::Bottom;
    if (a == "left") return Align::Left;
    if (a == "right") return Align::Right;
    if (a == "client") return Align::Client;
    Bad(*this, "align", "expected none, top, bottom, left, right or client");
}

LayoutRect LayoutNode::Bounds() const {
    return {Int("left"), Int("top"), Int("width"), Int("height")};
}

const LayoutNode* LayoutNode::FindControl(std::string_view controlName) const {
    if (name == controlName) return this;
    for (const auto& child : children)
        if (const LayoutNode* found = child.FindControl(controlName)) return found;
    return nullptr;
}

std::vector<LayoutRect> Dock(const std::vector<DockItem>& items, LayoutRect area) {
    std::vector<LayoutRect> placed;
    placed.reserve(items.size());
    for (const auto& item : items) placed.push_back(item.bounds);

    int left = area.left, top = area.top;
    int right = area.left + area.width, bottom = area.top + area.height;
    auto clampSize = [](int v) { return std::max(v, 0); };

    for (Align pass : {Align::Top, Align::Bottom, Align::Left, Align::Right, Align::Client}) {
        for (size_t i = 0; i < items.size(); ++i) {
            const DockItem& item = items[i];
            if (item.align != pass || !item.visible) continue;
            LayoutRect& r = placed[i];
            const int width = clampSize(right - left), height = clampSize(bottom - top);
            switch (pass) {
                case Align::Top:
                    r = {left, top, width, clampSize(item.bounds.height)};
                    top += r.height;
                    break;
                case Align::Bottom:
                    r = {left, bottom - clampSize(item.bounds.height), width,
                         clampSize(item.bounds.height)};
                    bottom -= r.height;
                    break;
                case Align::Left:
                    r = {left, top, clampSize(item.bounds.width), height};
                    left += r.width;
                    break;
                case Align::Right:
                    r = {right - clampSize(item.bounds.width), top, clampSize(item.bounds.width),
                         height};
                    right -= r.width;
                    break;
                case Align::Client:
                    r = {left, top, width, height};
                    break;
                case Align::None:
                    break;
            }
        }
    }
    return placed;
}

}  // namespace vellumor
