// Proves the cross-build and Wine pipeline: a real window, real messages, core code inside.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/list_compare.h"
#include "core/paths.h"

namespace {

LRESULT CALLBACK EchoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        // Answers with the load format of the window's own text, computed by core.
        wchar_t text[256] = {};
        GetWindowTextW(window, text, 256);
        char utf8[512] = {};
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        return vellumor::LoadFormatFor(vellumor::ExtensionOf(utf8));
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TEST(WinePipeline, RealWindowAnswersWithCoreRules) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = EchoProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VellumorPipelineTest";
    ASSERT_NE(RegisterClassW(&wc), 0);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"C:\\Docs\\\x0420\x0435\x043f.DocX",
                                  WS_POPUP | WS_VISIBLE, 10, 10, 200, 100, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 13);
    SetWindowTextW(window, L"C:\\my.docs\\a");
    EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 0);
    RECT rect = {};
    GetClientRect(window, &rect);
    EXPECT_EQ(rect.right, 200);
    EXPECT_EQ(rect.bottom, 100);
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

TEST(WinePipeline, CoreSortsTheSameWhenCrossBuilt) {
    EXPECT_LT(vellumor::CompareListText("b.doc", "_x.doc"), 0);
    EXPECT_EQ(vellumor::CompareListText("A.doc", "a.doc"), 0);
}
