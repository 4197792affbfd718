// Files and folders dropped from the shell onto the list, as the shell delivers them: a
// WM_DROPFILES carrying an HDROP in global memory, posted to the list.
#include <windows.h>
#include <shlobj.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/conversion_run.h"
#include "tests/win/app/form_test_support.h"
#include "win32/long_path.h"

using namespace vellumor;
using namespace vellumor::test;
using ::testing::ElementsAre;

namespace {

// A DROPFILES block with the paths as wide strings, each ended by a NUL, the list by another.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
    std::wstring names;
    for (const auto& path : paths) names += path + L'\0';
    names += L'\0';
    const SIZE_T bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(),
           names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// Every row's five texts, top to bottom.
std::vector<std::vector<std::string>> RowTexts(app::TForm1& form) {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < form.FileList().Count(); ++row) {
        rows.emplace_back();
        for (int column = 0; column < 5; ++column)
            rows.back().push_back(form.FileList().Text(row, column));
    }
    return rows;
}

class DropTest : public FormTest {
  protected:
    void Drop(const std::vector<std::wstring>& paths) {
        PostMessageW(form->ListView1, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
        PumpMessages();
    }
};

}  // namespace

TEST_F(DropTest, TheListTakesDroppedFilesFromTheShell) {
    EXPECT_TRUE(GetWindowLongW(form->ListView1, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

TEST_F(DropTest, DroppedDocumentsAndFoldersGiveTheRowsAddAndAddFolderGive) {
    TempFolder folder;
    const std::wstring a = folder.File(L"a.docx", 3000);
    const std::wstring upper = folder.File(L"B.DOC", 1024);
    const std::wstring text = folder.File(L"c.txt", 10);
    const std::wstring macro = folder.File(L"d.docm", 10);
    const std::wstring inner = folder.Folder(L"inner");
    folder.File(L"inner\\x.doc", 10);
    folder.File(L"inner\\y.Docx", 2048);
    folder.File(L"inner\\z.pdf", 10);
    folder.Folder(L"inner\\deeper");
    folder.File(L"inner\\deeper\\w.doc", 10);
    const std::wstring missing = folder.Path() + L"\\gone.docx";

    // What Add and Add Folder make of the same files, in a window of its own.
    FakeServices otherServices;
    app::TForm1 other(otherServices);
    other.AddFileEntry(win::Narrow(a));
    other.AddFileEntry(win::Narrow(upper));
    otherServices.BrowseAnswers(inner);
    SendMessageW(other.SpeedButton4, BM_CLICK, 0, 0);

    form->Label1->SetCaption("Successed!");
    Drop({a, text, upper, macro, missing, inner});
    EXPECT_EQ(RowTexts(*form), RowTexts(other));
    EXPECT_EQ(RowTexts(*form).size(), 4u);
    EXPECT_EQ(form->Label1->Caption(), "") << "a drop clears the status label as Add does";

    // Nothing a document: nothing added.
    Drop({text, macro});
    EXPECT_EQ(form->FileList().Count(), 4);
}

TEST_F(DropTest, DocumentsAndFoldersDeeperThanTwoHundredSixtyCharactersAreAdded) {
    TempFolder folder;
    const std::wstring part(90, L'p');
    const std::vector<std::wstring> folders = {part, part + L"\\" + part,
                                               part + L"\\" + part + L"\\" + part,
                                               part + L"\\" + part + L"\\" + part + L"\\inner"};
    const std::wstring& deep = folders[2];
    for (const std::wstring& name : folders) folder.Folder(name);
    const std::wstring longFile = folder.File(deep + L"\\long.docx", 10);
    const std::wstring innerFile = folder.File(folders[3] + L"\\x.doc", 10);
    // The tree is taken down here, deepest first and through the long form: the shell's delete
    // in TempFolder is not trusted with paths this long.
    struct TakeDown {
        std::vector<std::wstring> files, folders;
        ~TakeDown() {
            for (const auto& file : files) DeleteFileW(win::LongPath(win::Narrow(file)).c_str());
            for (auto it = folders.rbegin(); it != folders.rend(); ++it)
                RemoveDirectoryW(win::LongPath(win::Narrow(*it)).c_str());
        }
    } takeDown{{longFile, innerFile}, {}};
    for (const std::wstring& name : folders)
        takeDown.folders.push_back(folder.Path() + L"\\" + name);
    ASSERT_GT(longFile.size(), 260u);

    Drop({longFile, folder.Path() + L"\\" + folders[3]});
    ASSERT_EQ(form->FileList().Count(), 2);
    EXPECT_EQ(form->FileList().Text(0, 1), win::Narrow(longFile));
    EXPECT_EQ(form->FileList().Text(1, 1), win::Narrow(innerFile));
}

TEST_F(DropTest, ADropDuringARunAddsRowsAsAddWouldWithoutConvertingThem) {
    TempFolder folder;
    const std::wstring first = folder.File(L"first.docx", 10);
    const std::wstring second = folder.File(L"second.docx", 10);
    const std::wstring dropped = folder.File(L"dropped.doc", 10);
    form->AddFileEntry(win::Narrow(first));
    form->AddFileEntry(win::Narrow(second));
    SetWindowTextW(form->LabeledEdit2, (folder.Path() + L"\\out").c_str());

    // An engine that takes a drop while it loads: the drop waits for the run's next pump.
    class DroppingEngine : public DocumentEngine {
      public:
        HWND list = nullptr;
        std::wstring path;
        std::vector<std::string> calls;
        int Load(const std::string& source, int, int, bool) override {
            calls.push_back("load " + source);
            if (calls.size() == 1)
                PostMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
            return 0;
        }
        int Save(const std::string& pdf, int, int, bool) override {
            calls.push_back("save " + pdf);
            return 0;
        }
    };
    auto engine = std::make_unique<DroppingEngine>();
    engine->list = form->ListView1;
    engine->path = dropped;
    DroppingEngine* seen = engine.get();
    form->DocEngineControl1 = std::move(engine);

    SendMessageW(form->SpeedButton11, BM_CLICK, 0, 0);
    EXPECT_THAT(
        seen->calls,
        ElementsAre("load " + win::Narrow(first), "save " + folder.Utf8() + "\\out\\first.pdf",
                    "load " + win::Narrow(second), "save " + folder.Utf8() + "\\out\\second.pdf"));
    ASSERT_EQ(form->FileList().Count(), 3);
    EXPECT_EQ(form->FileList().Text(2, 1), win::Narrow(dropped));
    // The dropped row counts in the bar's maximum from the next file on, as a row added by
    // Add does.
    EXPECT_EQ(SendMessageW(form->ProgressBar1, PBM_GETRANGE, FALSE, 0), 3);
    EXPECT_EQ(SendMessageW(form->ProgressBar1, PBM_GETPOS, 0, 0), 2);
    EXPECT_EQ(form->Label1->Caption(), kStatusSucceeded);
    // The completed run shows its output folder.
    ASSERT_EQ(services.programs.size(), 1u);
    EXPECT_EQ(services.programs[0].file, L"Explorer.exe");
    EXPECT_EQ(services.programs[0].parameters, folder.Path() + L"\\out");
}
