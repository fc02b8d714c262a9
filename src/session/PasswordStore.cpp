#include "session/PasswordStore.h"
#include "common/AppInfo.h"
#include "lang/LangText.h"
#include "log/Log.h"
#include "session/PasswordFile.h"

void PasswordStore::ReadPasswordFile()
{
    const QString path = PasswordFile::path();
    const PasswordFile::Contents contents = PasswordFile::read(path);
    switch (contents.status) {
    case PasswordFile::Contents::Status::Missing:
        stored_ = PasswordFile::DefaultPassword;
        locked_ = false;
        return;
    case PasswordFile::Contents::Status::Sound:
        stored_ = contents.password;
        locked_ = false;
        return;
    case PasswordFile::Contents::Status::Damaged:
        // Falling back to the default password would hand the server to anyone
        // who knows it: the server stays locked until the file is mended.
        stored_.clear();
        locked_ = true;
        Log::LogTraceMessage(path + QStringLiteral(": ") + contents.problem);
        Log::NotifyOperator({Log::Notice::Kind::Message, AppInfo::Title,
                             LangTextOr(QStringLiteral("ArchivoPasswordDanado"),
                                        QStringLiteral("The password file is damaged; no session can be opened until "
                                                       "it is replaced or deleted: ")) +
                                 path});
        return;
    }
}

bool PasswordStore::Graba_Password(const QString &password)
{
    stored_ = password;
    locked_ = false;
    if (!PasswordFile::write(PasswordFile::path(), password)) {
        Log::NotifyOperator({Log::Notice::Kind::Message, AppInfo::Title,
                             LangTextOr(QStringLiteral("NoSeHaPodidoGrabarArchivoPassword"),
                                        QStringLiteral("The password file could not be written"))});
        return false;
    }
    ReadPasswordFile();
    return true;
}

bool PasswordStore::accepts(const QString &typed) const
{
    const QString entry = PasswordFile::normalizeEntry(typed);
    return !locked_ && !entry.isEmpty() && entry == stored_;
}

PasswordStore::ChangeOutcome PasswordStore::Change(const QString &current, const QString &newPassword,
                                                   const QString &repeat)
{
    if (!accepts(current))
        return ChangeOutcome::WrongCurrent;
    const QString entry = PasswordFile::normalizeEntry(newPassword);
    const QString again = PasswordFile::normalizeEntry(repeat);
    if (entry.isEmpty())
        return ChangeOutcome::NewEmpty;
    if (again.isEmpty())
        return ChangeOutcome::RepeatEmpty;
    if (again != entry)
        return ChangeOutcome::RepeatDiffers;
    if (!PasswordFile::isUsable(entry))
        return ChangeOutcome::NotUsable;
    Graba_Password(entry);
    return ChangeOutcome::Changed;
}
