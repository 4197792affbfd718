// The file list: one row per document in a report-view list control, text only. Name, then the
// sub-items path, size text, creation time text and last-write time text. The rows live here
// and the control (LVS_OWNERDATA) asks for their texts as it paints, so ten thousand rows go in
// and sort without ten thousand insertions into the control.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/entry_text.h"
#include "filelist/shell_dialogs.h"

namespace vellumor::filelist {

// The file-open dialog's settings as the window's layout gives them.
struct OpenDialogSettings {
    std::string filter;  // "Shown text|patterns|Shown text|patterns..."
    DWORD flags = 0;     // OFN_* flags
    int bufferSize = 0;  // characters for the chosen names
};

// The dialog's list of full paths, first to last; empty when cancelled or failed.
std::vector<std::string> ChooseFiles(ShellDialogs& dialogs, HWND owner,
                                     const OpenDialogSettings& settings);

// The user's regional formats: short date and long time.
TimeFormats UserTimeFormats();

// The texts of a row from a directory search entry.
struct EntryTexts {
    std::string size, created, written;
};
EntryTexts TextsOf(const WIN32_FIND_DATAW& found, const TimeFormats& formats);

class FileList {
  public:
    explicit FileList(HWND listView);
    ~FileList();
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;
    HWND Window() const { return list_; }

    // The control's LVN_GETDISPINFOW: the text of a row's cell.
    void FillDisplayInfo(NMLVDISPINFOW& info) const;
    // A label edit the user ended with text: the shown name changes, the path stays.
    void Rename(int row, const std::wstring& name);

    // Appends a row for the file at path, unless the directory search cannot find it.
    bool AddFileEntry(const std::string& path);
    // Appends a row for every .doc and .docx entry of one folder (not its sub-folders), in the
    // order the search returns them; a link's row shows the file it leads to. Returns the
    // number of rows appended. Throws, naming the folder, when it cannot be read (the rows
    // appended until then stay).
    int AddFolder(const std::string& folder);
    // Deletes the selected rows, last to first.
    void RemoveSelected();
    // Deletes every row, with redrawing suspended meanwhile.
    void RemoveAll();
    // Sorts ascending by a column's texts with the list's own sort (rows keep their selection).
    // Each row's text is read once, not at every comparison.
    void Sort(int column);
    // The list comparison of two rows' texts in a column.
    int Compare(int row1, int row2, int column) const;

    // Adds what a drop from the shell names: a folder as AddFolder adds it, a .doc or .docx
    // file as AddFileEntry does; anything else is left out. Returns the rows appended.
    int AddDropped(const std::vector<std::string>& paths);

    int Count() const;
    std::string Text(int row, int column) const;
    bool Selected(int row) const;

  private:
    // While one is alive, rows go in with the list's redrawing off; the list is painted again
    // every few dozen milliseconds, so a big folder fills in view and the window never freezes.
    class BulkAppend {
      public:
        explicit BulkAppend(FileList& list);
        ~BulkAppend();
        BulkAppend(const BulkAppend&) = delete;
        BulkAppend& operator=(const BulkAppend&) = delete;
        void RowAppended();

      private:
        void Show();
        FileList& list_;
        BulkAppend* outer_;
        DWORD shownAt_;
        DWORD paintEvery_;
    };

    void AppendRow(const std::string& name, const std::string& path, const EntryTexts& texts);
    // Tells the control how many rows there are, keeping its scroll position.
    void ShowCount();
    // Rows deleted through the control (LVM_DELETEITEM, LVM_DELETEALLITEMS) leave here too.
    static LRESULT CALLBACK ListSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self);

    struct Row {
        std::wstring cells[5];
    };
    std::vector<Row> rows_;

    // The user's formats, remembering the texts of the dates and times met during one adding
    // operation: a folder's files mostly share a few days.
    struct FormatCache;
    void ForgetFormats();

    HWND list_;
    std::shared_ptr<FormatCache> formatCache_;
    TimeFormats formats_;
    BulkAppend* bulk_ = nullptr;
};

}  // namespace vellumor::filelist
