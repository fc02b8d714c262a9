#pragma once
#include <QString>
#include <cstdint>

class PasswordStore;

// What a session changes in the main window.
class SessionView {
public:
    virtual ~SessionView() = default;
    virtual void setControlEnabled(const QString &control, bool enabled) = 0;
    // The item detail's value box: locked, no test write.
    virtual void setValueLocked(bool locked) = 0;
    // The first status bar panel: the seconds a timed session has left.
    virtual void setSessionPanel(const QString &text) = 0;
};

// The operator session: closed, timed (after a login) or untimed (the automatic
// session, or any session in a debug start). It enables the menus a session
// permits and counts a timed session down, one step per main-timer tick.
class OperatorSession {
public:
    explicit OperatorSession(SessionView &view) : view_(view) {}

    // Set before the session is opened at start-up.
    std::int16_t SessionTimeout = 900; // the length of a timed session, seconds
    bool DebugMode = false;

    // Opens (true) or closes (false) the session state of the menus.
    void Sesion_Iniciar(bool Permiso);
    void CloseSession();
    // Start-up, once the settings are read: the AutoSesion setting, then an
    // untimed session when it is set or in a debug start.
    void openAtStartUp(bool autoSession);
    // One main-timer tick: counts a timed session down and closes it at the end.
    void tick();

    enum class LoginOutcome { EmptyEntry, Opened, Refused };
    // The login dialog's accept button. A wrong entry leaves the session as it was.
    LoginOutcome Login(const QString &typed, const PasswordStore &passwords);

    bool AutoSession() const { return autoSession_; }
    // 0 while closed; 1 on opening, counted up while a timed session runs.
    int SessionSeconds() const { return seconds_; }
    bool isOpen() const { return seconds_ != 0; }

private:
    SessionView &view_;
    bool autoSession_ = false;
    int seconds_ = 0;
};
