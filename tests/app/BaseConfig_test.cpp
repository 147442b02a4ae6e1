#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "sources/SourceManager.h"
#include "webrtc/WebrtcManager.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

namespace {

TEST(BaseConfig, GeneralConfigShowFlagsDefaultToTheOppositeOfTheNeutralVersion)
{
    struct Case {
        const char* name;
        QVariantMap stored;
        bool neutral, shown;
    };
    const std::vector<Case> cases {
        { "no file", {}, false, true },
        { "neutral only", { { "Config/isNeutralVersion", true } }, true, false },
        { "neutral with a flag", { { "Config/isNeutralVersion", true }, { "Config/logoImgShow", true } }, true, false },
    };
    for (const Case& c : cases) {
        testsupport::TempHome home;
        g_is_neutral_version = false;
        if (!c.stored.isEmpty()) {
            QSettings ini(g_savePath + "/general.ini", QSettings::IniFormat);
            for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
                ini.setValue(it.key(), it.value());
        }
        BaseConfig* controller = BaseConfig::getInstance();
        controller->initGeneralConfig();
        EXPECT_EQ(g_is_neutral_version, c.neutral) << c.name;
        EXPECT_EQ(controller->isLanguageShow(), c.shown) << c.name;
        EXPECT_EQ(controller->isLogoImgShow(), c.stored.contains("Config/logoImgShow") || c.shown) << c.name;
        EXPECT_EQ(controller->isLoginImgShow(), c.shown) << c.name;
        EXPECT_EQ(controller->isDeviceNameShow(), c.shown) << c.name;
        EXPECT_FALSE(QFile::exists(g_savePath + "/general.ini") && c.stored.isEmpty()) << "defaults written back";
    }
    g_is_neutral_version = false;
}

// Runs last in this file: it tears the process-wide services down.
TEST(BaseConfig, ShutdownStopsTheServicesOnceAndToleratesRepeats)
{
    testsupport::TempHome home;
    BaseConfig* controller = BaseConfig::getInstance();
    SourceManager* sources = SourceManager::instance();
    WebrtcManager* webrtc = WebrtcManager::instance();
    controller->setWebrtcManager(webrtc);
    controller->setSourceManager(sources);

    QSignalSpy language(controller, &BaseConfig::langChanged);
    EXPECT_TRUE(controller->initConfigs());
    ASSERT_EQ(language.count(), 1);
    EXPECT_EQ(language.at(0).at(0).toString(), "en"); // no "lang.ini"
    EXPECT_TRUE(webrtc->isRunning());

    controller->openWindows();
    sources->startDiscover();
    ASSERT_TRUE(sources->isRunning());

    controller->destroy();
    EXPECT_FALSE(sources->isRunning());
    EXPECT_FALSE(webrtc->isRunning());

    // A repeat finds nothing left: it must not start or stop anything again.
    sources->startDiscover();
    webrtc->init();
    controller->destroy();
    EXPECT_TRUE(sources->isRunning());
    EXPECT_TRUE(webrtc->isRunning());
    sources->stopDiscover();
    webrtc->destroy();

    controller->stopWorker();
    controller->stopWorker();
}

} // namespace
