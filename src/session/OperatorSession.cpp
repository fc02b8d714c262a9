#include "session/OperatorSession.h"
#include "lang/LangText.h"
#include "log/Log.h"
#include "session/PasswordStore.h"

void OperatorSession::Sesion_Iniciar(bool Permiso)
{
    for (const char *control :
         {"mnuFileExit", "mnuFileClientDisc", "mnuFileForceExit", "mnuTrace", "mnuEdit", "mnuEditConfiguracion"})
        view_.setControlEnabled(QLatin1String(control), Permiso);
    view_.setValueLocked(!Permiso);
    seconds_ = 1;
    if (!Permiso) {
        Log::LogDebugMessage(QStringLiteral("Session closed"));
    } else if (autoSession_) {
        view_.setControlEnabled(QStringLiteral("mnuAInicioSesion"), false);
        view_.setControlEnabled(QStringLiteral("mnuACerrarSesion"), false);
        Log::LogDebugMessage(QStringLiteral("Auto Session opened"));
    } else {
        Log::LogDebugMessage(QStringLiteral("Session opened"));
    }
}

void OperatorSession::CloseSession()
{
    Sesion_Iniciar(false);
    seconds_ = 0;
    view_.setSessionPanel(QString());
}

void OperatorSession::openAtStartUp(bool autoSession)
{
    autoSession_ = autoSession;
    if (autoSession_ || DebugMode)
        Sesion_Iniciar(true);
}

void OperatorSession::tick()
{
    if (DebugMode || autoSession_ || seconds_ <= 0)
        return;
    ++seconds_;
    if (seconds_ <= SessionTimeout)
        view_.setSessionPanel(QString::number(SessionTimeout - seconds_));
    else
        CloseSession();
}

OperatorSession::LoginOutcome OperatorSession::Login(const QString &typed, const PasswordStore &passwords)
{
    if (typed.trimmed().isEmpty())
        return LoginOutcome::EmptyEntry;
    if (passwords.accepts(typed)) {
        Sesion_Iniciar(true);
        return LoginOutcome::Opened;
    }
    Log::LogDebugMessage(LangTextOr(QStringLiteral("PasswordIncorrecto"), QStringLiteral("Wrong password")));
    return LoginOutcome::Refused;
}
