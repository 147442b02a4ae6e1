#include "TestSupport.h"
#include "base/Globals.h"
#include "base/Translator.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>

#include <memory>

namespace {

QString portLabel()
{
    return QCoreApplication::translate("Widget", "Http Port: ");
}

const QString kChinese = QString::fromUtf8("Http 端口：");

TEST(Translator, SwitchingBackAndForthLeavesOneInstalledCatalogue)
{
    testsupport::TempHome home;
    auto translator = std::make_unique<Translator>();
    translator->setSomething(*qApp);
    for (const char* lang : { "zh", "en", "zh" })
        translator->loadLanguage(lang);
    EXPECT_EQ(portLabel(), kChinese);

    // The translator takes itself out of the application once; had it been
    // listed more than once, the application would now hold a dangling entry.
    translator.reset();
    EXPECT_EQ(portLabel(), QString("Http Port: "));
}

TEST(Translator, OnlyExactLanguageCodesLoadACatalogue)
{
    testsupport::TempHome home;
    Translator translator;
    translator.setSomething(*qApp);
    translator.loadLanguage("zh");
    ASSERT_EQ(portLabel(), kChinese);

    const std::vector<std::pair<QString, int>> cases { { "", 0 }, { "EN", 1 }, { "fr", 1 }, { "zh_CN", 1 } };
    for (const auto& [code, emitted] : cases) {
        QSignalSpy changed(&translator, &Translator::langChanged);
        translator.loadLanguage(code);
        EXPECT_EQ(changed.count(), emitted) << code.toStdString();
        EXPECT_EQ(portLabel(), kChinese) << code.toStdString();
    }
    translator.loadLanguage("en");
    EXPECT_EQ(portLabel(), QString("Http Port: "));
}

TEST(Translator, CatalogueIsInstalledOnlyOnceAnApplicationIsBound)
{
    testsupport::TempHome home;
    Translator translator;
    translator.loadLanguage("zh");
    EXPECT_EQ(portLabel(), QString("Http Port: "));
    translator.setSomething(*qApp);
    translator.loadLanguage("zh");
    EXPECT_EQ(portLabel(), kChinese);
}

} // namespace

namespace {

TEST(Translator, MissingCatalogueInstallsNothingButStillSignals)
{
    testsupport::TempHome home;
    g_resPath = home.home(); // holds no catalogues
    Translator translator;
    translator.setSomething(*qApp);
    QSignalSpy changed(&translator, &Translator::langChanged);
    translator.loadLanguage("zh");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(portLabel(), QString("Http Port: "));
}

} // namespace
