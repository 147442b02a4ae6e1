#include "render/ScreensControl.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

namespace {

TEST(ScreensControl, IndicesBelowOneMeanNoScreenAndOthersMustNameADisplay)
{
    const int displays = QGuiApplication::screens().size();
    ASSERT_GE(displays, 1);
    ScreensControl* screens = ScreensControl::instance();
    struct Case {
        int index;
        bool valid;
    };
    for (const Case& c : std::vector<Case> {
             { -3, true }, { 0, true }, { 1, true }, { displays, true }, { displays + 1, false }, { 100, false } })
        EXPECT_EQ(screens->checkScreenIndex(c.index), c.valid) << c.index;
}

} // namespace
