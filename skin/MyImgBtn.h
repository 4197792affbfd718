// TImgBtn: a picture that acts as a button by showing one of four stored pictures (normal,
// hover, pressed, disabled) according to its state, with its own mouse events.
#pragma once

#include <windows.h>

#include <functional>

#include "skin/windowless.h"
#include "win32/handles.h"

namespace vellumor::skin {

// Codes of the pointer enter and leave notifications as the events receive them.
constexpr UINT CM_MOUSEENTER = 0xB013;
constexpr UINT CM_MOUSELEAVE = 0xB014;

// The mouse message a TImgBtn event receives: the very message the button is handling. Enter and
// leave carry their notification code and zero parameters (no position).
struct TWMMouse {
    UINT Msg = 0;
    WPARAM Keys = 0;
    SHORT XPos = 0;  // in the button's coordinates
    SHORT YPos = 0;
    LRESULT Result = 0;
};
using TOnMouseEvent = std::function<void(TWMMouse& Msg)>;

class TImgBtn : public Picture {
  public:
    TImgBtn();
    ~TImgBtn() override;

    bool Hover() const { return hover_; }      // the pointer is over the button
    bool Pressed() const { return pressed_; }  // left button went down on it, not yet released
    // While false the button changes neither flags nor pictures on mouse input and raises none of
    // its four events; OnClick still comes from the base control.
    bool Supported() const { return supported_; }
    void SetSupported(bool supported) { supported_ = supported; }
    // The button's own copy of its enabled state (the base control's is set alongside).
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) override;

    // Stored pictures; the setters take a copy, the caller keeps its own.
    HBITMAP Pic() const { return pic_.get(); }
    HBITMAP PicUp() const { return picUp_.get(); }
    HBITMAP PicDown() const { return picDown_.get(); }
    HBITMAP PicDisable() const { return picDisable_.get(); }
    void SetPic(HBITMAP picture);         // shown at once, whatever the state
    void SetPicUp(HBITMAP picture);       // stored only
    void SetPicDown(HBITMAP picture);     // stored only
    void SetPicDisable(HBITMAP picture);  // shown at once while disabled

    // Raised after the button has reacted to the input. These take the place of the base
    // control's mouse-down event, which stays unassigned.
    TOnMouseEvent OnMouseEnter;
    TOnMouseEvent OnMouseLeave;
    TOnMouseEvent OnMouseDown;
    TOnMouseEvent OnMouseUp;

  protected:
    void MouseEnter() override;
    void MouseLeave() override;
    void ButtonDown(UINT message, WPARAM keys, POINT where) override;
    void ButtonUp(UINT message, WPARAM keys, POINT where) override;

  private:
    void Show(const win::Bitmap& stored) { SetPicture(stored.get()); }
    bool Reacts() const { return enabled_ && supported_; }

    bool hover_ = false;
    bool pressed_ = false;
    win::Bitmap pic_;
    win::Bitmap picUp_;
    win::Bitmap picDown_;
    win::Bitmap picDisable_;
    bool supported_ = true;
    bool enabled_ = true;
};

}  // namespace vellumor::skin
