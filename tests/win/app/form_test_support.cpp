#include "tests/win/app/form_test_support.h"

#include <shellapi.h>

#include <string>

#include "filelist/file_list.h"
#include "win32/long_path.h"

namespace vellumor::test {

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    path_ = std::wstring(temp) + L"vellumor-app-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    std::wstring from = path_;
    from.push_back(L'\0');
    from.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
}

std::wstring TempFolder::File(const std::wstring& name, DWORD size, DWORD attributes) {
    const std::wstring path = File(name, std::string(size, 'x'));
    if (attributes) SetFileAttributesW(path.c_str(), attributes);
    return path;
}

std::wstring TempFolder::File(const std::wstring& name, const std::string& bytes) {
    const std::wstring path = path_ + L"\\" + name;
    HANDLE file = CreateFileW(win::LongPath(win::Narrow(path)).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << win::Narrow(path);
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

std::wstring TempFolder::Folder(const std::wstring& name) {
    const std::wstring path = path_ + L"\\" + name;
    CreateDirectoryW(win::LongPath(win::Narrow(path)).c_str(), nullptr);
    return path;
}

void SetLocalTimes(const std::wstring& path, const SYSTEMTIME& created, const SYSTEMTIME& written) {
    FILETIME localCreated, localWritten, utcCreated, utcWritten;
    SystemTimeToFileTime(&created, &localCreated);
    SystemTimeToFileTime(&written, &localWritten);
    LocalFileTimeToFileTime(&localCreated, &utcCreated);
    LocalFileTimeToFileTime(&localWritten, &utcWritten);
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, &utcCreated, nullptr, &utcWritten);
    CloseHandle(file);
}

std::string ExpectedTimeText(const SYSTEMTIME& local, bool withTime) {
    wchar_t date[128] = {}, time[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &local, nullptr, time, 128);
    std::string text = win::Narrow(date);
    if (withTime) {
        text += ' ';
        text += win::Narrow(time);
    }
    return text;
}

std::vector<std::string> Column(app::TForm1& form, int column) {
    std::vector<std::string> texts;
    for (int row = 0; row < form.FileList().Count(); ++row)
        texts.push_back(form.FileList().Text(row, column));
    return texts;
}

RECT RectInParent(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return win::Narrow(text);
}

namespace {
void CALLBACK GiveUpWaiting(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(99);
}
}  // namespace

int RunMainLoop(app::Application& application) {
    const UINT_PTR timer = SetTimer(nullptr, 0, 3000, GiveUpWaiting);
    const int code = application.Run();
    KillTimer(nullptr, timer);
    return code;
}

void ClickOnScreen(POINT at) {
    SetCursorPos(at.x, at.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

POINT CentreOnScreen(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

POINT CentreOnScreen(const skin::WindowlessControl& control) {
    const RECT r = control.Bounds();
    POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(control.Host()->Window(), &at);
    return at;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace vellumor::test
