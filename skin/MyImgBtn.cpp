#include "skin/MyImgBtn.h"

namespace vellumor::skin {

namespace {

TWMMouse Notification(UINT code) {
    TWMMouse msg;
    msg.Msg = code;
    return msg;
}

TWMMouse ButtonMessage(UINT message, WPARAM keys, POINT where) {
    TWMMouse msg;
    msg.Msg = message;
    msg.Keys = keys;
    msg.XPos = static_cast<SHORT>(where.x);
    msg.YPos = static_cast<SHORT>(where.y);
    return msg;
}

}  // namespace

TImgBtn::TImgBtn() = default;

TImgBtn::~TImgBtn() {
    pic_.reset();
    picDown_.reset();
    picUp_.reset();
    picDisable_.reset();
}

void TImgBtn::SetEnabled(bool enabled) {
    Picture::SetEnabled(enabled);
    enabled_ = enabled;
    if (enabled) Show(picUp_);
    if (!enabled_) Show(picDisable_);
}

void TImgBtn::SetPic(HBITMAP picture) {
    SetPicture(picture);
    pic_ = CopyBitmap(picture);
}

void TImgBtn::SetPicUp(HBITMAP picture) {
    picUp_ = CopyBitmap(picture);
}

void TImgBtn::SetPicDown(HBITMAP picture) {
    picDown_ = CopyBitmap(picture);
}

void TImgBtn::SetPicDisable(HBITMAP picture) {
    picDisable_ = CopyBitmap(picture);
    if (!enabled_) Show(picDisable_);
}

void TImgBtn::MouseEnter() {
    if (!Reacts()) return;
    hover_ = true;
    Show(pressed_ ? picDown_ : picUp_);
    if (OnMouseEnter) {
        TWMMouse msg = Notification(CM_MOUSEENTER);
        OnMouseEnter(msg);
    }
}

void TImgBtn::MouseLeave() {
    if (!Reacts()) return;
    hover_ = false;
    Show(pic_);
    if (OnMouseLeave) {
        TWMMouse msg = Notification(CM_MOUSELEAVE);
        OnMouseLeave(msg);
    }
}

void TImgBtn::ButtonDown(UINT message, WPARAM keys, POINT where) {
    Picture::ButtonDown(message, keys, where);
    if (message != WM_LBUTTONDOWN || !Reacts()) return;
    pressed_ = true;
    if (hover_) Show(picDown_);
    if (OnMouseDown) {
        TWMMouse msg = ButtonMessage(message, keys, where);
        OnMouseDown(msg);
    }
}

void TImgBtn::ButtonUp(UINT message, WPARAM keys, POINT where) {
    // The base handling raises OnClick first, so a click handler that gives the button new
    // pictures sees its new hover picture shown right below.
    Picture::ButtonUp(message, keys, where);
    if (message != WM_LBUTTONUP || !Reacts()) return;
    pressed_ = false;
    if (hover_) Show(picUp_);
    if (OnMouseUp) {
        TWMMouse msg = ButtonMessage(message, keys, where);
        OnMouseUp(msg);
    }
}

}  // namespace vellumor::skin
