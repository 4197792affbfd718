// The pieces of the main window's own frame: the rounded outline, the title bar composed from a
// skin picture with the icon and caption painted into it, the frame buttons cut from a sprite
// sheet, their places, and double-buffered painting. The window puts them together on creation
// and on every change of its size.
#pragma once

#include <windows.h>

#include <string>

#include "skin/MyImgBtn.h"
#include "skin/windowless.h"

namespace vellumor::skin {

// Title source: the two ends this wide stay unscaled; the column right after the left end is
// stretched across the middle. Only this many rows of the source are used.
constexpr int kTitleEndWidth = 200;
constexpr int kTitleStripHeight = 35;

// Sprite sheet of the frame buttons: cells of 25 by 31, rows normal / hover / pressed.
constexpr int kFrameButtonWidth = 25;
constexpr int kFrameButtonHeight = 31;
constexpr int kMinimiseColumn = 0;
constexpr int kMaximiseColumn = 25;
constexpr int kCloseColumn = 50;
constexpr int kRestoreColumn = 76;

// The three frame buttons sit this far left of the window's right edge, 3 pixels from the top.
constexpr int kMinimiseOffset = 87;
constexpr int kMaximiseOffset = 62;
constexpr int kCloseOffset = 37;
constexpr int kFrameButtonTop = 3;

constexpr COLORREF kCaptionStartColor = RGB(255, 255, 0);  // until the first resize
constexpr COLORREF kCaptionColor = RGB(255, 255, 255);     // after it
constexpr RECT kCaptionRect{34, 2, 284, 0};                // bottom: the title bar's height

// The caption's font: the title picture's default face ("MS Sans Serif"), in points.
struct CaptionFont {
    int points = 8;
    bool bold = false;
};
constexpr CaptionFont kCaptionStartFont{10, true};
constexpr CaptionFont kCaptionFont{8, false};

// Composes Target's picture at Target's own size from Source: the EndWidth-wide ends unscaled,
// the source column at x EndWidth stretched between them, StripHeight rows. Whatever was drawn
// into the title before is gone.
void StretchTitleBar(Picture& Target, const Picture& Source, int EndWidth, int StripHeight);

// Cuts the button's normal, hover and pressed pictures out of the sprite sheet: the cells at
// (X, Y), (X, Y + CellHeight) and (X, Y + 2 CellHeight). The normal one is shown at once.
void CutButtonPics(TImgBtn& Button, const Picture& Sheet, int CellWidth, int CellHeight, int X,
                   int Y);

// The window's outline: a rounded rectangle from (0, 0) to (width + 1, height + 1), corner
// ellipse 6 by 6, redrawn at once.
void SetRoundRegion(HWND window, int width, int height);

// Brings the three buttons above the title bar, in this order, and places them for the window's
// width (sizes unchanged).
void PlaceFrameButtons(WindowlessHost& host, TImgBtn& minimise, TImgBtn& maximise, TImgBtn& close,
                       int windowWidth);

// The application's icon at (10, 5), 16 by 16, on the title picture.
void DrawTitleIcon(Picture& title, HICON icon);

// The caption on the title picture: single line, vertically centred, left-aligned, clipped to
// the caption rectangle, no background.
void DrawTitleCaption(Picture& title, const std::wstring& caption, COLORREF color,
                      const CaptionFont& font);

// Where the status label goes: 40 below the toolbar picture's top, and half the working panel's
// width (rounded down) plus 160 right of the toolbar picture's left.
POINT StatusLabelPosition(const RECT& toolbarPicture, int panelWidth);

// A maximised window is this high: the screen's height less 30.
int MaximisedHeight();

}  // namespace vellumor::skin
