// Program entry: the application object, the main window, the message loop.
#include <windows.h>

#include "app/Unit1.h"
#include "app/application.h"
#include "win32/guard.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    using namespace vellumor;
    app::Application application;
    std::unique_ptr<app::TForm1> form;
    const bool ready = win::Guarded([&] {
        form = std::make_unique<app::TForm1>();
        form->OnDestroy = [] { PostQuitMessage(0); };
        form->Show(showCommand == SW_HIDE ? SW_SHOWNORMAL : showCommand);
        return true;
    });
    if (!ready) return 1;  // the error box has told why
    const int code = application.Run();
    form.reset();
    return code;
}
