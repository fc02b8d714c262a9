#include "ui/WindowedServer.h"

WindowedServer::WindowedServer()
{
    view_.setWindowMaker([this]() -> MainView & {
        window_ = std::make_unique<fMainOPC>(logic_);
        return *window_;
    });
}

WindowedServer::~WindowedServer()
{
    view_.detachWindow();
    window_.reset();
}

fMainOPC &WindowedServer::makeWindow()
{
    view_.window();
    return *window_;
}
