#pragma once
#include "TestSupport.h"
#include "lang/Language.h"

#include <QWidget>
#include <gtest/gtest.h>

// A test folder with the shipped language file, read in English, and every
// dialog of the seam answered by `answer` (button 0 by default).
struct UiTest : ::testing::Test {
    TempAppFolder folder;
    std::function<Dialogs::Answer(const Dialogs::Request &)> answer;
    DialogRecorder dialogs{[this](const Dialogs::Request &r) { return answer ? answer(r) : Dialogs::Answer{}; }};

    void SetUp() override
    {
        folder.installLanguageFile();
        ASSERT_EQ(Language::LoadLanguageFile(1), Language::LoadResult::Ok);
    }
    template <class W> static W *child(const QWidget &window, const char *name)
    {
        W *w = window.findChild<W *>(QLatin1String(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
};
