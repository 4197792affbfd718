// TForm1: the main window. Its controls come from the stored layout (resources/Unit1.layout);
// its methods are the handlers that the layout wires to the controls' events.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>

#include "app/controls.h"
#include "app/form_run.h"
#include "app/layout_loader.h"
#include "app/services.h"
#include "core/conversion_run.h"
#include "engine/document_engine.h"
#include "filelist/file_list.h"
#include "skin/MyImgBtn.h"
#include "skin/frame.h"
#include "skin/windowless.h"

namespace vellumor::app {

// The product's home page, opened by Help > Home; it ships beside the program.
inline constexpr const wchar_t* kHomePageFileName = L"index.html";
// The help file, looked for in the program's own folder.
inline constexpr const wchar_t* kHelpFileName = L"tessolin.chm";

class TForm1 {
  public:
    // Builds the window from the layout resource of module (the program itself by default),
    // hidden, and runs FormCreate.
    explicit TForm1(Services& services = SystemServices(), HINSTANCE module = nullptr);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return Form->window; }
    FormLayout& Layout() { return *layout_; }
    void Show(int showCommand = SW_SHOWNORMAL);
    // Called when the window has been destroyed (the application ends its loop here).
    std::function<void()> OnDestroy;

    // ---- controls (owned by the layout) ----
    Control* Form = nullptr;
    skin::Picture* Image1 = nullptr;  // title bar
    skin::TImgBtn* ImgBtnClose = nullptr;
    skin::TImgBtn* ImgBtnMax = nullptr;
    skin::TImgBtn* ImgBtnMin = nullptr;
    skin::Picture* Image9 = nullptr;   // left border
    skin::Picture* Image10 = nullptr;  // right border
    skin::Picture* Image2 = nullptr;   // bottom border
    Control* Panel1 = nullptr;
    skin::Picture* Image3 = nullptr;  // toolbar background
    skin::Picture* Image4 = nullptr;  // rule under the toolbar
    Label* Label1 = nullptr;          // status label
    Control* Panel2 = nullptr;
    HWND ListView1 = nullptr;
    HWND ProgressBar1 = nullptr;
    Control* Panel3 = nullptr;
    HWND Button1 = nullptr;
    Control* DocEngineControl1Slot = nullptr;  // where the engine control goes
    Control* Panel4 = nullptr;
    skin::Picture* Image5 = nullptr;  // settings background
    Label* Label2 = nullptr;
    Label* Label3 = nullptr;
    Label* Label4 = nullptr;
    HWND RadioButton1 = nullptr;  // "Setting Path"
    HWND RadioButton2 = nullptr;  // "Original Path"
    HWND LabeledEdit2 = nullptr;  // output folder
    Control* PanelImage = nullptr;
    skin::Picture* ImageM = nullptr;    // frame buttons' sprite sheet
    skin::Picture* ImageTop = nullptr;  // title bar source
    skin::Picture* ImageBk = nullptr;   // list background source
    HMENU PopupMenu1 = nullptr;         // list: Remove, Remove All
    HMENU PopupMenu2 = nullptr;         // help: Manual, Home
    HWND SpeedButton1 = nullptr, SpeedButton2 = nullptr, SpeedButton3 = nullptr,
         SpeedButton4 = nullptr, SpeedButton5 = nullptr, SpeedButton11 = nullptr,
         SpeedButton13 = nullptr, SpeedButton17 = nullptr, SpeedButton18 = nullptr,
         SpeedButton20 = nullptr;

    // ---- start-up and frame ----
    void FormCreate();
    void FormResize();
    void Image1MouseDown(UINT buttonMessage, WPARAM keys, POINT where);
    void Image1DblClick();
    void ImgBtnMinClick();
    void ImgBtnMaxClick();
    void ImgBtnCloseClick();

    // ---- output settings and help ----
    void RadioButton1Click();
    void RadioButton2Click();
    void SpeedButton2Click();
    void SpeedButton13Click();
    void Manual1Click();
    void Home1Click();
    std::string BrowseForFolder(const std::string& initialFolder);

    // ---- file list ----
    void AddFileEntry(const std::string& path);
    void SpeedButton3Click();   // Add
    void SpeedButton4Click();   // Add Folder
    void SpeedButton20Click();  // Remove selected
    void SpeedButton5Click();   // Remove all
    void Remove1Click();
    void RemoveAll1Click();
    void ListView1ColumnClick(int column);
    // Files and folders dropped onto the list: a folder is added as Add Folder adds one, a
    // .doc or .docx file as Add adds it; anything else is left out.
    void ListView1DropFiles(HDROP drop);
    int ListView1Compare(int row1, int row2);
    filelist::FileList& FileList() { return *fileList_; }
    int SortColumn() const { return sortColumn_; }

    // ---- conversion ----
    void SpeedButton11Click();
    void Button1Click();
    void SpeedButton1Click();
    ConversionRun& Run() { return run_; }
    // The document engine, chosen at start-up (the engine control or the worker); closed and
    // released when the window is destroyed.
    std::unique_ptr<DocumentEngine> DocEngineControl1;

    // Output settings as the run reads them.
    std::string OutputFolder() const;
    OutputMode Mode() const;
    // Shows or hides the progress bar; the list gives it room or takes it back.
    void ShowProgressBar(bool visible);
    // The tooltip control that shows the tool buttons' hints.
    HWND Tooltip() const { return tooltip_; }

  private:
    friend class FormRunHost;
    HandlerTable Handlers();
    void BindControls();
    void CreateTooltips();
    static LRESULT CALLBACK ListSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void Popup(HMENU menu, POINT screen);
    void SetBackground(HWND control, COLORREF color);

    // FormCreate's steps that belong to the skinned frame and to the list's styling.
    void BuildFrame();
    void StyleList();
    // The frame's helpers: the window's outer size, a frame button's pictures from the sprite
    // sheet's column, the icon and caption on the title bar, the status label's place.
    SIZE WindowSize() const;
    void CutButtonPics(skin::TImgBtn& button, int column);
    void DrawTitle(COLORREF color, const skin::CaptionFont& font);
    void PlaceStatusLabel();

    Services& services_;
    std::unique_ptr<FormLayout> layout_;
    std::unique_ptr<filelist::FileList> fileList_;
    ConversionRun run_;  // holds the stop flag
    FormRunHost runHost_{*this};
    int sortColumn_ = 0;
    SIZE frameSize_{0, 0};  // the window size the frame was last laid out for
    HWND tooltip_ = nullptr;
    HWND lastFocus_ = nullptr;  // the focused control when the window was last deactivated
};

}  // namespace vellumor::app
