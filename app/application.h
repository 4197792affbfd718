// The application object: COM for the user-interface thread, the top-level error box that every
// callback boundary reports to, and the message loop with its idle processing.
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

    // Runs the message loop until WM_QUIT; the windowless controls' enter and leave come from
    // the idle processing each time the queue runs empty. Returns the quit code.
    int Run();

    // The title of the program's boxes: the program file's name, e.g. "Vellumor".
    static std::string Title();
    // Shows the error box for an exception.
    static void ShowException(std::exception_ptr error);
    // Handles every message waiting in the queue, then returns; a quit request is put back for
    // the main loop.
    static void ProcessMessages();

  private:
    win::ComApartment com_;
};

}  // namespace vellumor::app
