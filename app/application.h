// The application object: COM for the user-interface thread, the top-level error box that every
// callback boundary reports to, the message loop with its idle processing, and the request to
// end the program that a close during a run leaves for that loop.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "app/services.h"
#include "win32/handles.h"

namespace vellumor::app {

class Application {
  public:
    // Initialises COM (single-threaded apartment) and installs the error box as the handler of
    // exceptions that reach a window procedure or callback.
    explicit Application(Services& services = SystemServices());
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Runs the message loop until WM_QUIT or a recorded request to end, which it looks at after
    // every message it has handled; the windowless controls' enter and leave come from the idle
    // processing each time the queue runs empty. Returns the quit code.
    int Run();

    // The title of the program's boxes: the program file's name, e.g. "Vellumor".
    static std::string Title();
    // Shows the error box for an exception.
    static void ShowException(std::exception_ptr error);
    // Handles every message waiting in the queue until it is empty, then returns. A WM_QUIT met
    // here is recorded for the main loop and the remaining messages are still handled: putting
    // it back would hand it out first again and starve input and repaints.
    static void ProcessMessages();

    // Records a request to end the program with code; the main loop ends at its next look,
    // which is after the handler in progress (a run, for instance) has returned.
    static void RequestQuit(int code);
    static bool QuitRequested();

  private:
    win::ComApartment com_;
};

}  // namespace vellumor::app
