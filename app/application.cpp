#include "app/application.h"

#include <stdexcept>

#include "core/error_text.h"
#include "skin/windowless.h"
#include "win32/guard.h"
#include "win32/program_path.h"
#include "win32/unicode.h"

namespace vellumor::app {

namespace {
Services* g_services = nullptr;

// The recorded request to end the program, kept until the main loop takes it.
bool g_quitRequested = false;
int g_quitCode = 0;

void Dispatch(MSG& message) {
    // Tab and the arrow keys move between the main window's controls as in a dialog.
    if (message.hwnd && message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) {
        HWND root = GetAncestor(message.hwnd, GA_ROOT);
        if (root && (GetWindowLongW(root, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) &&
            IsDialogMessageW(root, &message)) {
            return;
        }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}
}  // namespace

Application::Application(Services& services) {
    g_services = &services;
    g_quitRequested = false;
    win::SetExceptionHandler(&Application::ShowException);
}

Application::~Application() {
    win::SetExceptionHandler(nullptr);
    g_services = nullptr;
    g_quitRequested = false;
}

void Application::RequestQuit(int code) {
    if (g_quitRequested) return;  // the first request's code stands
    g_quitRequested = true;
    g_quitCode = code;
}

bool Application::QuitRequested() {
    return g_quitRequested;
}

std::string Application::Title() {
    return ApplicationTitle(win::ProgramPath());
}

void Application::ShowException(std::exception_ptr error) {
    std::string message;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    Services& services = g_services ? *g_services : SystemServices();
    services.MessageBox(GetActiveWindow(), win::Widen(ErrorBoxText(message)), win::Widen(Title()),
                        MB_OK | MB_ICONERROR);
}

void Application::ProcessMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            RequestQuit(static_cast<int>(message.wParam));
            continue;
        }
        Dispatch(message);
    }
}

int Application::Run() {
    MSG message;
    const auto takeRequest = [] {
        g_quitRequested = false;
        return g_quitCode;
    };
    for (;;) {
        if (g_quitRequested) return takeRequest();
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
            Dispatch(message);
            if (g_quitRequested) return takeRequest();
        }
        win::Guarded([] {
            skin::RunIdle();
            return 0;
        });
        WaitMessage();
    }
}

}  // namespace vellumor::app
