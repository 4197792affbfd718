// The stored window layout: a text description of a window's control tree (names, kinds,
// geometry, docking, captions, fonts, colours, pictures), and the docking maths that places
// aligned controls inside their parent. Portable: the Windows loader builds the controls.
//
// Format, one item per line, "#" starts a comment line:
//
//     Form1: form {
//         left = 308
//         caption = "Vellumor 2.6"
//         font = "MS Sans Serif" -11 bold
//         Image1: picture {
//             align = top
//             height = 33
//         }
//     }
//
// A control opens with "Name: kind {" and closes with "}". A property is "key = value", where
// the value is one or more tokens: quoted strings ("\"" and "\\" escape), integers, or words.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumor {

class LayoutError : public std::runtime_error {
  public:
    LayoutError(int line, const std::string& what);
    int Line() const { return line_; }

  private:
    int line_;
};

struct LayoutToken {
    enum class Kind { Word, Number, String };
    Kind kind = Kind::Word;
    std::string text;  // the word, the string's contents, or the number as written
    long long number = 0;
};

enum class Align { None, Top, Bottom, Left, Right, Client };

// A colour: either a fixed RGB value or a system colour index (COLOR_* of Windows).
struct LayoutColor {
    bool system = false;
    int systemIndex = 0;
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const LayoutColor&) const = default;
};

struct LayoutFont {
    std::string face;
    int height = 0;  // negative: character height in pixels
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

struct LayoutRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const LayoutRect&) const = default;
};

class LayoutNode {
  public:
    std::string name;
    std::string kind;
    int line = 0;
    std::vector<std::pair<std::string, std::vector<LayoutToken>>> properties;  // in file order
    std::vector<LayoutNode> children;                                          // creation order

    bool Has(std::string_view key) const;
    const std::vector<LayoutToken>* Find(std::string_view key) const;

    // Typed reads; each throws LayoutError (with this node's line) when the value has the
    // wrong shape. The fallback is returned when the key is absent.
    int Int(std::string_view key, int fallback = 0) const;
    std::string Text(std::string_view key, std::string_view fallback = {}) const;
    std::string Word(std::string_view key, std::string_view fallback = {}) const;
    bool Flag(std::string_view key, bool fallback = false) const;
    std::optional<LayoutColor> Color(std::string_view key) const;
    std::optional<LayoutFont> Font(std::string_view key) const;
    Align AlignValue() const;   // "align", None when absent
    LayoutRect Bounds() const;  // left, top, width, height (0 when absent)

    // Depth-first search below (and including) this node.
    const LayoutNode* FindControl(std::string_view controlName) const;
};

// Parses a whole layout; the text must hold exactly one top-level control.
LayoutNode ParseLayout(std::string_view text);

// "#RRGGBB", or a system colour name (btnface, window, windowtext, highlight, highlighttext).
std::optional<LayoutColor> ParseLayoutColor(std::string_view word);

// One child of a parent, as the docking maths sees it.
struct DockItem {
    Align align = Align::None;
    LayoutRect bounds;  // the stored geometry; for aligned items only the free size counts
    bool visible = true;
};

// Places the aligned children of a parent inside its client area: first those aligned top, then
// bottom, left, right and client, each kind in creation order. A top or bottom item keeps its
// height and takes the remaining width; left and right keep their width and take the remaining
// height; client takes what is left. Hidden items take no room and keep their stored bounds, as
// do unaligned items. Sizes never go below zero.
std::vector<LayoutRect> Dock(const std::vector<DockItem>& items, LayoutRect clientArea);

}  // namespace vellumor
