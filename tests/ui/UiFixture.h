#pragma once
#include "TestSupport.h"
#include "lang/Language.h"

#include <QFile>
#include <QFileInfo>
#include <QWidget>
#include <gtest/gtest.h>

// A test folder with the shipped language file, read in English, and every
// dialog of the seam answered by `answer` (button 0 by default).
struct UiTest : ::testing::Test {
    TempAppFolder folder;
    std::function<Dialogs::Answer(const Dialogs::Request &)> answer;
    DialogRecorder dialogs{[this](const Dialogs::Request &r) { return answer ? answer(r) : Dialogs::Answer{}; }};

    void SetUp() override { installLanguage(1); }
    void installLanguage(int index)
    {
        QString dir = qEnvironmentVariable("KV7_SOURCE_DIR");
        if (dir.isEmpty())
            dir = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../..");
        QFile f(dir + QStringLiteral("/data/OPC-KV7.LNG"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        folder.write(QStringLiteral("OPC-KV7.LNG"), f.readAll());
        ASSERT_EQ(Language::LoadLanguageFile(std::int16_t(index)), Language::LoadResult::Ok);
    }
    template <class W> static W *child(const QWidget &window, const char *name)
    {
        W *w = window.findChild<W *>(QLatin1String(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
};
