#pragma once
#include "shell/MainOPC.h"
#include "shell/StandInView.h"
#include "ui/fMainOPC.h"

#include <memory>

// The server as the window process runs it: the logic starts on a stand-in for its
// window and serves before any widget is built; the window is made when it is first
// shown (or asked for) and takes over what the stand-in kept.
class WindowedServer {
public:
    WindowedServer();
    // The window goes first: it forwards to the logic, and the stand-in must not
    // forward to it once it is gone.
    ~WindowedServer();
    WindowedServer(const WindowedServer &) = delete;
    WindowedServer &operator=(const WindowedServer &) = delete;

    MainOPC &logic() { return logic_; }
    // The window, or null while none has been made.
    fMainOPC *window() const { return window_.get(); }
    fMainOPC &makeWindow();

private:
    StandInView view_;
    MainOPC logic_{view_};
    std::unique_ptr<fMainOPC> window_;
};
