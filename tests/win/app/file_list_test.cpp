// The file list of the real main window: Add, Add Folder, Remove, Remove All, the list's popup
// menu and sorting by a column click, with the dialogs answered by the test.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/conversion_run.h"
#include "tests/win/app/form_test_support.h"
#include "tests/win/wine_host.h"
#include "win32/long_path.h"

using namespace vellumor;
using namespace vellumor::test;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

void Select(HWND list, int row, bool selected) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

// A header click as the list reports it to its panel.
void ClickHeader(HWND list, int column) {
    NMLISTVIEW notice = {};
    notice.hdr.hwndFrom = list;
    notice.hdr.idFrom = GetDlgCtrlID(list);
    notice.hdr.code = LVN_COLUMNCLICK;
    notice.iItem = -1;
    notice.iSubItem = column;
    SendMessageW(GetParent(list), WM_NOTIFY, notice.hdr.idFrom, reinterpret_cast<LPARAM>(&notice));
}

// Puts names into the dialog's buffer the way the multi-select dialog does.
// seen keeps the dialog's settings, filter the filter's texts.
std::function<bool(OPENFILENAMEW&)> DialogReturns(std::vector<std::wstring> parts,
                                                  OPENFILENAMEW* seen = nullptr,
                                                  std::vector<std::wstring>* filter = nullptr) {
    return [parts, seen, filter](OPENFILENAMEW& dialog) {
        if (seen) *seen = dialog;
        if (filter)
            for (const wchar_t* p = dialog.lpstrFilter; *p; p += wcslen(p) + 1)
                filter->emplace_back(p);
        wchar_t* out = dialog.lpstrFile;
        for (const auto& part : parts) {
            std::copy(part.begin(), part.end(), out);
            out += part.size();
            *out++ = L'\0';
        }
        *out = L'\0';
        return true;
    };
}

}  // namespace

using FileListTest = FormTest;

TEST_F(FileListTest, AddFolderTakesDocAndDocxEntriesOfThatFolderOnly) {
    TempFolder folder;
    folder.File(L"Report.DOC", 1023);
    folder.File(L"notes.Docx", 1024);
    folder.File(L"hidden.doc", 5000, FILE_ATTRIBUTE_HIDDEN);
    folder.Folder(L"x.doc");
    folder.File(L"a.docm", 10);
    folder.File(L"b.doc.bak", 10);
    folder.File(L"c.txt", 10);
    folder.File(L"\x041E\x0442\x0447\x0451\x0442 \x5831\x544A.docx", 2048);
    folder.Folder(L"sub");
    folder.File(L"sub\\inner.doc", 10);

    form->Label1->SetCaption("Stopped");
    services.BrowseAnswers(folder.Path());
    Click(form->SpeedButton4);

    EXPECT_EQ(form->Label1->Caption(), "");
    const std::string cyrillicCjk =
        "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xE5\xA0\xB1\xE5\x91\x8A.docx";
    EXPECT_THAT(Column(*form, 0), UnorderedElementsAre("Report.DOC", "notes.Docx", "hidden.doc",
                                                       "x.doc", cyrillicCjk));
    for (int row = 0; row < Rows(); ++row) {
        const std::string name = form->FileList().Text(row, 0);
        EXPECT_EQ(form->FileList().Text(row, 1), folder.Utf8() + "\\" + name);
        const std::string size = form->FileList().Text(row, 2);
        if (name == "Report.DOC") {
            EXPECT_EQ(size, "0KB");
        }
        if (name == "notes.Docx") {
            EXPECT_EQ(size, "1KB");
        }
        if (name == "hidden.doc") {
            EXPECT_EQ(size, "4KB");
        }
        if (name == cyrillicCjk) {
            EXPECT_EQ(size, "2KB");
        }
        EXPECT_FALSE(form->FileList().Text(row, 3).empty());
        EXPECT_FALSE(form->FileList().Text(row, 4).empty());
    }

    // A cancelled picker adds nothing, but the status label is cleared all the same.
    form->Label1->SetCaption("Successed!");
    services.onBrowse = [](BROWSEINFOW&) { return PIDLIST_ABSOLUTE{}; };
    Click(form->SpeedButton4);
    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_EQ(Rows(), 5);

    // A folder without matching entries adds nothing.
    TempFolder empty;
    empty.File(L"readme.txt", 3);
    services.BrowseAnswers(empty.Path());
    Click(form->SpeedButton4);
    EXPECT_EQ(Rows(), 5);
}

// A folder the search cannot read is said once, in the error box, naming the folder; it is
// never taken for an empty one.
TEST_F(FileListTest, AddFolderSaysOnceWhenTheFolderCannotBeRead) {
    app::Application application(services);
    // Gone between the picker and the search.
    std::wstring gone;
    services.onBrowse = [&gone](BROWSEINFOW&) {
        TempFolder vanishing;
        gone = vanishing.Path();
        return ILCreateFromPathW(gone.c_str());  // the folder goes with the TempFolder
    };
    Click(form->SpeedButton4);
    EXPECT_EQ(Rows(), 0);
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text,
              L"Cannot read the folder " + gone + L": there is no such folder.");
    EXPECT_EQ(services.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));

    // Closed to this user.
    TempFolder folder;
    folder.File(L"inside.doc", 10);
    if (!test::CloseFolder(folder.Utf8())) {
        test::OpenFolder(folder.Utf8());
        GTEST_SKIP() << test::kClosedFolderSkip;
    }
    services.BrowseAnswers(folder.Path());
    Click(form->SpeedButton4);
    test::OpenFolder(folder.Utf8());
    EXPECT_EQ(Rows(), 0);
    ASSERT_EQ(services.boxes.size(), 2u);
    EXPECT_EQ(services.boxes[1].text,
              L"Cannot read the folder " + folder.Path() + L": permission denied.");
}

// Links made on the Linux side show the file they lead to; paths past MAX_PATH and names
// outside the ANSI code page are listed like any other.
TEST_F(FileListTest, AddFolderTakesLinksAndLongPaths) {
    TempFolder folder;
    folder.File(L"target.docx", 2048);
    const std::string links = folder.Utf8() + "\\links";
    CreateDirectoryW(win::Widen(links).c_str(), nullptr);
    ASSERT_TRUE(test::MakeUnixLink("../target.docx", links + "\\linked.docx"));
    services.BrowseAnswers(win::Widen(links));
    Click(form->SpeedButton4);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(form->FileList().Text(0, 0), "linked.docx");
    EXPECT_EQ(form->FileList().Text(0, 2), "2KB");

    // A folder of over 200 characters and a name of 100: a path of over 300.
    const std::string deep =
        folder.Utf8() + "\\" + std::string(100, 'd') + "\\" + std::string(90, 'e');
    test::MakeFolders(deep);
    const std::string name =
        "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 " + std::string(90, 'n') + ".doc";
    {
        HANDLE file = CreateFileW(win::LongPath(deep + "\\" + name).c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, std::string(3000, 'x').data(), 3000, &written, nullptr);
        CloseHandle(file);
    }
    ASSERT_GT(win::Widen(deep + "\\" + name).size(), 260u);
    services.BrowseAnswers(win::Widen(deep));
    Click(form->SpeedButton4);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(form->FileList().Text(1, 0), name);
    EXPECT_EQ(form->FileList().Text(1, 1), deep + "\\" + name);
    EXPECT_EQ(form->FileList().Text(1, 2), "2KB");
    // Add finds it too.
    form->AddFileEntry(deep + "\\" + name);
    EXPECT_EQ(Rows(), 3);
    test::RemoveTree(folder.Utf8() + "\\" + std::string(100, 'd'));
    test::RemoveUnixTree(links);
}

TEST_F(FileListTest, AddFolderOnADriveRootKeepsTheRootsBackslashInEveryPath) {
    const std::wstring name = L"vellumor-root-" + std::to_wstring(GetCurrentProcessId()) + L".doc";
    const std::wstring path = L"C:\\" + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    services.BrowseAnswers(L"C:\\");
    Click(form->SpeedButton4);
    DeleteFileW(path.c_str());
    const auto names = Column(*form, 0);
    const auto found = std::find(names.begin(), names.end(), win::Narrow(name));
    ASSERT_NE(found, names.end());
    EXPECT_EQ(form->FileList().Text(static_cast<int>(found - names.begin()), 1),
              "C:\\\\" + win::Narrow(name));
}

TEST_F(FileListTest, TimesGoThroughTheTwoSecondGrainAndMidnightShowsTheDateAlone) {
    // Wine keeps no creation time of its own on Linux, so both cases use the last-write time.
    TempFolder folder;
    const std::wstring odd = folder.File(L"odd.doc", 10);
    const std::wstring midnight = folder.File(L"midnight.doc", 10);
    const SYSTEMTIME oddTime = {2021, 3, 4, 4, 10, 15, 37, 0};
    const SYSTEMTIME midnightTime = {2021, 3, 5, 5, 0, 0, 0, 0};
    SetLocalTimes(odd, oddTime, oddTime);
    SetLocalTimes(midnight, midnightTime, midnightTime);
    form->AddFileEntry(win::Narrow(odd));
    form->AddFileEntry(win::Narrow(midnight));
    ASSERT_EQ(Rows(), 2);
    SYSTEMTIME even = oddTime;
    even.wSecond = 36;
    EXPECT_EQ(form->FileList().Text(0, 4), ExpectedTimeText(even, true));
    EXPECT_EQ(form->FileList().Text(1, 4), ExpectedTimeText(midnightTime, false));
}

TEST_F(FileListTest, AddUsesTheDialogsListAndSkipsNamesWithoutAFile) {
    TempFolder folder;
    folder.File(L"c.txt", 2500);
    folder.File(L"Report.DOC", 10);
    OPENFILENAMEW seen = {};
    std::vector<std::wstring> filter;
    services.onOpen =
        DialogReturns({folder.Path(), L"c.txt", L"missing.doc", L"Report.DOC"}, &seen, &filter);
    form->Label1->SetCaption("Stopped");
    Click(form->SpeedButton3);

    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_THAT(Column(*form, 0), ElementsAre("c.txt", "Report.DOC"));
    EXPECT_THAT(Column(*form, 1),
                ElementsAre(folder.Utf8() + "\\c.txt", folder.Utf8() + "\\Report.DOC"));
    EXPECT_THAT(Column(*form, 2), ElementsAre("2KB", "0KB"));

    // The dialog as the layout sets it up.
    EXPECT_EQ(seen.nMaxFile, 65519u);
    EXPECT_EQ(seen.Flags, static_cast<DWORD>(OFN_EXPLORER | OFN_ALLOWMULTISELECT |
                                             OFN_HIDEREADONLY | OFN_ENABLESIZING));
    EXPECT_EQ(seen.nFilterIndex, 1u);
    EXPECT_EQ(seen.lpstrTitle, nullptr);
    EXPECT_EQ(seen.lpstrInitialDir, nullptr);
    EXPECT_EQ(seen.lpstrDefExt, nullptr);
    EXPECT_THAT(filter, ElementsAre(L"Microsoft Word(97-2010)(*.doc, *.docx)", L"*.docx;*.doc",
                                    L"Microsoft Word(97-2003)(*.doc)", L"*.doc",
                                    L"Microsoft Word(2007-2010)(*.docx)", L"*.docx"));

    // One chosen file comes back as its full path; the same file again gives a second row.
    services.onOpen = DialogReturns({folder.Path() + L"\\Report.DOC"});
    Click(form->SpeedButton3);
    EXPECT_THAT(Column(*form, 0), ElementsAre("c.txt", "Report.DOC", "Report.DOC"));

    // A typed name without a file adds nothing and says nothing; a cancel adds nothing.
    services.onOpen = DialogReturns({folder.Path() + L"\\nothing.docx"});
    Click(form->SpeedButton3);
    services.onOpen = [](OPENFILENAMEW&) { return false; };
    form->Label1->SetCaption("Stopped");
    Click(form->SpeedButton3);
    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_EQ(Rows(), 3);
    EXPECT_TRUE(services.boxes.empty());
}

class RowsTest : public FileListTest {
  protected:
    void SetUp() override {
        FileListTest::SetUp();
        for (int i = 0; i < 5; ++i)
            form->AddFileEntry(win::Narrow(folder.File(L"r" + std::to_wstring(i) + L".doc", 1)));
    }
    TempFolder folder;
};

TEST_F(RowsTest, RemoveDeletesTheSelectedRowsAndKeepsTheOrderOfTheRest) {
    Click(form->SpeedButton20);  // nothing selected
    EXPECT_EQ(Rows(), 5);
    Select(form->ListView1, 1, true);
    Select(form->ListView1, 3, true);
    Click(form->SpeedButton20);
    EXPECT_THAT(Column(*form, 0), ElementsAre("r0.doc", "r2.doc", "r4.doc"));
    Click(form->SpeedButton5);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(RowsTest, ListMenuItemsDoWhatTheButtonsDo) {
    ASSERT_EQ(GetMenuItemCount(form->PopupMenu1), 2);
    wchar_t text[64] = {};
    GetMenuStringW(form->PopupMenu1, 0, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"Remove");
    GetMenuStringW(form->PopupMenu1, 1, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"Remove All");

    // A right click in the list opens the menu at the pointer; "Remove" removes the selection.
    Select(form->ListView1, 1, true);
    Select(form->ListView1, 3, true);
    services.popupAnswer = [](HMENU menu) { return GetMenuItemID(menu, 0); };
    SendMessageW(form->ListView1, WM_CONTEXTMENU, (WPARAM)form->ListView1, MAKELPARAM(500, 400));
    ASSERT_EQ(services.popups.size(), 1u);
    EXPECT_EQ(services.popups[0].menu, form->PopupMenu1);
    EXPECT_EQ(services.popups[0].x, 500);
    EXPECT_EQ(services.popups[0].y, 400);
    EXPECT_THAT(Column(*form, 0), ElementsAre("r0.doc", "r2.doc", "r4.doc"));

    services.popupAnswer = [](HMENU menu) { return GetMenuItemID(menu, 1); };
    SendMessageW(form->ListView1, WM_CONTEXTMENU, (WPARAM)form->ListView1, MAKELPARAM(500, 400));
    EXPECT_EQ(Rows(), 0);
}

// The rows live in the file list and the control asks for their texts: what the control shows,
// a label edit, a sort and a deletion through the control all agree with the file list.
TEST_F(RowsTest, TheControlShowsTheListsRowsThroughRenamesSortsAndDeletions) {
    auto shown = [&](int row, int column) {
        wchar_t text[MAX_PATH] = {};
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        SendMessageW(form->ListView1, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return win::Narrow(text);
    };
    ASSERT_EQ(SendMessageW(form->ListView1, LVM_GETITEMCOUNT, 0, 0), 5);
    EXPECT_EQ(shown(2, 0), "r2.doc");
    EXPECT_EQ(shown(2, 1), folder.Utf8() + "\\r2.doc");

    // The user renames row 1: the shown name changes, the path stays.
    wchar_t renamed[] = L"z.doc";
    NMLVDISPINFOW edit = {};
    edit.hdr.hwndFrom = form->ListView1;
    edit.hdr.idFrom = GetDlgCtrlID(form->ListView1);
    edit.hdr.code = LVN_ENDLABELEDITW;
    edit.item.iItem = 1;
    edit.item.pszText = renamed;
    SendMessageW(GetParent(form->ListView1), WM_NOTIFY, edit.hdr.idFrom,
                 reinterpret_cast<LPARAM>(&edit));
    EXPECT_EQ(shown(1, 0), "z.doc");
    EXPECT_EQ(form->FileList().Text(1, 1), folder.Utf8() + "\\r1.doc");

    // A sort by name moves the renamed row last; the selection follows its row.
    Select(form->ListView1, 3, true);
    ClickHeader(form->ListView1, 0);
    EXPECT_THAT(Column(*form, 0), ElementsAre("r0.doc", "r2.doc", "r3.doc", "r4.doc", "z.doc"));
    EXPECT_EQ(shown(4, 1), folder.Utf8() + "\\r1.doc");
    for (int row = 0; row < 5; ++row) EXPECT_EQ(form->FileList().Selected(row), row == 2) << row;

    // A row deleted through the control leaves the file list too.
    SendMessageW(form->ListView1, LVM_DELETEITEM, 0, 0);
    EXPECT_THAT(Column(*form, 0), ElementsAre("r2.doc", "r3.doc", "r4.doc", "z.doc"));
    EXPECT_EQ(SendMessageW(form->ListView1, LVM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(shown(0, 0), "r2.doc");
}

TEST_F(FileListTest, HeaderClickSortsAscendingAsTextWithTheListComparison) {
    TempFolder folder;
    form->AddFileEntry(win::Narrow(folder.File(L"_x.doc", 20 * 1024)));
    form->AddFileEntry(win::Narrow(folder.File(L"b.doc", 100 * 1024)));
    form->AddFileEntry(win::Narrow(folder.File(L"A.doc", 3 * 1024)));
    form->AddFileEntry(win::Narrow(folder.File(L"a.doc", 3 * 1024 + 5)));

    ClickHeader(form->ListView1, 2);
    EXPECT_EQ(form->SortColumn(), 2);
    EXPECT_THAT(Column(*form, 2), ElementsAre("100KB", "20KB", "3KB", "3KB"));

    ClickHeader(form->ListView1, 0);
    EXPECT_EQ(form->SortColumn(), 0);
    auto names = Column(*form, 0);
    ASSERT_EQ(names.size(), 4u);
    // "A.doc" and "a.doc" compare equal: either order, both before b.doc, which precedes _x.doc.
    EXPECT_THAT(std::vector<std::string>(names.begin(), names.begin() + 2),
                UnorderedElementsAre("A.doc", "a.doc"));
    EXPECT_EQ(names[2], "b.doc");
    EXPECT_EQ(names[3], "_x.doc");
    // The path column moves with its row.
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(form->FileList().Text(row, 1), folder.Utf8() + "\\" + names[row]);

    // A second click sorts ascending again; a row added after a sort goes to the end.
    ClickHeader(form->ListView1, 0);
    EXPECT_EQ(Column(*form, 0)[3], "_x.doc");
    form->AddFileEntry(win::Narrow(folder.File(L"0.doc", 1)));
    EXPECT_EQ(Column(*form, 0).back(), "0.doc");
}

namespace {
// A run whose pumping lets the test press buttons between files.
class PumpingHost : public RunHost {
  public:
    std::function<void()> onPump;
    int RowCount() override { return 1; }
    std::string RowPath(int) override { return "C:\\x.txt"; }
    std::string OutputFolder() override { return "C:\\"; }
    OutputMode Mode() override { return OutputMode::SettingPath; }
    void EnsureFolder(const std::string&) override {}
    void RepaintWindow() override {}
    void RepaintList() override {}
    void SetStatus(const std::string&) override {}
    void ShowProgressBar(bool) override {}
    void UpdateProgress(int, int) override { PumpMessages(); }
    void PumpMessages() override {
        if (onPump) std::exchange(onPump, nullptr)();
    }
    void Load(const std::string&, int) override {}
    void Save(const std::string&, int) override {}
    void ShowLoadFailure() override {}
    void OpenExplorer(const std::string&) override {}
};
}  // namespace

TEST_F(RowsTest, RemovingAndSortingWaitWhileARunIsInProgress) {
    Select(form->ListView1, 1, true);
    PumpingHost host;
    host.onPump = [&] {
        ASSERT_TRUE(form->Run().InProgress());
        Click(form->SpeedButton20);
        form->Remove1Click();
        Click(form->SpeedButton5);
        form->RemoveAll1Click();
        ClickHeader(form->ListView1, 1);
    };
    form->Run().Run(host);
    EXPECT_EQ(Rows(), 5);
    EXPECT_EQ(form->SortColumn(), 0);
    // Afterwards they work again.
    Click(form->SpeedButton20);
    EXPECT_EQ(Rows(), 4);
}

TEST_F(RowsTest, EditingANameInPlaceLeavesThePathAlone) {
    SetForegroundWindow(form->Handle());
    SetFocus(form->ListView1);
    HWND edit = reinterpret_cast<HWND>(SendMessageW(form->ListView1, LVM_EDITLABELW, 2, 0));
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"renamed.doc");
    // Moving the focus away ends the edit and keeps the new name.
    SetFocus(form->LabeledEdit2);
    PumpMessages();
    EXPECT_EQ(form->FileList().Text(2, 0), "renamed.doc");
    EXPECT_EQ(form->FileList().Text(2, 1), folder.Utf8() + "\\r2.doc");
}
