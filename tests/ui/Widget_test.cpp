#include "QrReader.h"
#include "TestSupport.h"
#include "base/Globals.h"
#include "base/Translator.h"
#include "ui/AboutDialog.h"
#include "ui/MsgBox.h"
#include "ui/MyTitleBar.h"
#include "ui/SubTitleBar.h"
#include "ui/Widget.h"
#include "ui/WidgetForm.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDataStream>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <sys/stat.h>

namespace {

QByteArray deviceConfig(qint32 http, qint32 websocket, qint32 runAtStartup)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << http << websocket << runAtStartup;
    return bytes;
}

void resetPorts()
{
    g_httpPort = 81;
    g_websocketPort = 12345;
}

void sendMouse(QWidget* target, QEvent::Type type, QPoint global, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, target->mapFromGlobal(global), global, type == QEvent::MouseMove ? Qt::NoButton : button,
        held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void drag(QWidget* target, QPoint from, QPoint by, Qt::MouseButton button)
{
    sendMouse(target, QEvent::MouseButtonPress, from, button);
    sendMouse(target, QEvent::MouseMove, from + by / 2, button);
    sendMouse(target, QEvent::MouseMove, from + by, button);
    sendMouse(target, QEvent::MouseButtonRelease, from + by, button);
}

class WidgetTest : public ::testing::Test {
protected:
    void SetUp() override { resetPorts(); }
    void TearDown() override
    {
        resetPorts();
        Widget::setRestartProgram(QString());
    }
    testsupport::TempHome home;
};

TEST_F(WidgetTest, PortsComeFromTheDeviceConfigurationWhenThereIsOne)
{
    struct Case {
        const char* name;
        QByteArray file; // empty: no file
        int http, websocket;
    };
    QByteArray shortOne;
    QDataStream(&shortOne, QIODevice::WriteOnly) << qint32(18445);
    // A port no server could listen on falls back to the default.
    const std::vector<Case> cases {
        { "missing", {}, 81, 12345 },
        { "three values", deviceConfig(18443, 18444, 2), 18443, 18444 },
        { "one value", shortOne, 18445, 12345 },
        { "out of range", deviceConfig(65536, -1, 0), 81, 12345 },
        { "zero and the highest port", deviceConfig(0, 65535, 0), 81, 65535 },
    };
    for (const Case& c : cases) {
        resetPorts();
        QFile::remove(g_savePath + "/device.cfg");
        if (!c.file.isEmpty()) {
            ASSERT_TRUE(testsupport::writeFile(g_savePath + "/device.cfg", c.file));
        }
        Widget widget;
        widget.initWidget("en");
        EXPECT_EQ(g_httpPort, c.http) << c.name;
        EXPECT_EQ(g_websocketPort, c.websocket) << c.name;
        EXPECT_EQ(widget.form()->port_edit->text(), "Http Port: " + QString::number(c.http)) << c.name;
    }
}

TEST_F(WidgetTest, ClosingTheWindowStartsTheShutdownAndClosesItsOtherWindows)
{
    Widget widget;
    widget.initWidget("en");
    QSignalSpy destroyAll(&widget, &Widget::destroyAll);
    widget.show();
    widget.showAboutDialog();
    ASSERT_TRUE(widget.aboutDialog()->isVisible());
    widget.closeWindow();
    EXPECT_GE(destroyAll.count(), 1);
    EXPECT_FALSE(widget.isVisible());
    EXPECT_FALSE(widget.aboutDialog()->isVisible());
    EXPECT_FALSE(widget.restartRequested());
}

TEST_F(WidgetTest, AddressesAreListedInOrderAndTheChosenOneIsEncoded)
{
    const QHostAddress first("192.0.2.10"), second("198.51.100.7");
    const QList<QHostAddress> loopbackAndV6 { QHostAddress::LocalHost, QHostAddress("::1"), QHostAddress("fe80::1"),
        QHostAddress("0.0.0.0") };
    struct Case {
        const char* name;
        QList<QHostAddress> addresses;
        QStringList expected;
    };
    const std::vector<Case> cases {
        { "none", loopbackAndV6, {} },
        { "one", loopbackAndV6 + QList<QHostAddress> { first }, { "https://192.0.2.10:18443/" } },
        { "two", QList<QHostAddress> { first, QHostAddress::LocalHost, second },
            { "https://192.0.2.10:18443/", "https://198.51.100.7:18443/" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetPorts();
        ASSERT_TRUE(testsupport::writeFile(g_savePath + "/device.cfg", deviceConfig(18443, 18444, 0)));
        Widget widget;
        widget.initWidget("en");
        // Before any address: a blank code, never one of "https://:port/".
        EXPECT_EQ(uitest::readQrCode(widget.form()->qrcode_label->grab().toImage()), "");

        QSignalSpy announced(&widget, &Widget::qrcodeChanged);
        widget.fillAddresses(c.addresses);
        QStringList listed;
        for (int i = 0; i < widget.form()->comboBox->count(); ++i)
            listed << widget.form()->comboBox->itemText(i);
        EXPECT_EQ(listed, c.expected);
        if (c.expected.isEmpty()) {
            EXPECT_EQ(announced.count(), 0);
            EXPECT_EQ(uitest::readQrCode(widget.form()->qrcode_label->grab().toImage()), "");
            continue;
        }
        ASSERT_GE(announced.count(), 1);
        EXPECT_EQ(announced.last().at(0).toString(), c.expected[0]);
        EXPECT_EQ(uitest::readQrCode(widget.form()->qrcode_label->grab().toImage()), c.expected[0]);
        widget.copyToClipBoard();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), c.expected[0]);

        if (c.expected.size() > 1) {
            widget.form()->comboBox->setCurrentIndex(1);
            EXPECT_EQ(announced.last().at(0).toString(), c.expected[1]);
            EXPECT_EQ(uitest::readQrCode(widget.form()->qrcode_label->grab().toImage()), c.expected[1]);
            widget.copyToClipBoard();
            EXPECT_EQ(QGuiApplication::clipboard()->text(), c.expected[1]);
        }
    }
}

TEST_F(WidgetTest, SettingsAreSavedWholeOrNotAtAll)
{
    const QString host = QHostInfo::localHostName();
    struct Case {
        const char* name;
        QString hostName, http, websocket;
        bool ok;
        QByteArray file; // expected device.cfg afterwards
        int httpPort, websocketPort;
        const char* reason; // part of the failure text
        bool unwritable = false;
    };
    const QByteArray stored = deviceConfig(18443, 18444, 2);
    // A changed port is bound before it is kept: these are free.
    const QList<quint16> free = testsupport::distinctFreePorts(5);
    const auto text = [&](int i) { return QString::number(free[i]); };
    const std::vector<Case> cases {
        { "no change", host, "18443", "18444", true, stored, 18443, 18444, "" },
        { "name only", "Studio A", "18443", "18444", true, stored, 18443, 18444, "" },
        { "http port", host, text(0), "18444", true, deviceConfig(free[0], 18444, 2), free[0], 18444, "" },
        { "websocket port", host, "18443", text(1), true, deviceConfig(18443, free[1], 2), 18443, free[1], "" },
        { "blanks around", host, " " + text(2) + " ", "18444", true, deviceConfig(free[2], 18444, 2), free[2], 18444,
            "" },
        { "letters", host, "abc", "18444", false, stored, 18443, 18444, "Http Port must" },
        { "empty", host, "18443", "", false, stored, 18443, 18444, "Web Sockets Port must" },
        { "zero", host, "0", "18444", false, stored, 18443, 18444, "Http Port must" },
        { "too high", host, "18443", "65536", false, stored, 18443, 18444, "Web Sockets Port must" },
        { "negative", host, "-1", "18444", false, stored, 18443, 18444, "Http Port must" },
        { "equal ports", "Studio B", "18444", "18444", false, stored, 18443, 18444, "must differ" },
        { "unwritable folder", "Studio C", text(3), text(4), false, stored, 18443, 18444, "could not be written",
            true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetPorts();
        const QString file = g_savePath + "/device.cfg";
        ASSERT_TRUE(testsupport::writeFile(file, stored));
        struct stat before { };
        ::stat(QFile::encodeName(file).constData(), &before);

        Widget widget;
        widget.initWidget("en");
        widget.show();
        widget.dialogShow();
        const QString savedPath = g_savePath;
        if (c.unwritable) {
            // A settings folder below a plain file cannot be written, whoever runs the test.
            ASSERT_TRUE(testsupport::writeFile(home.home() + "/plain", "x"));
            g_savePath = home.home() + "/plain/general";
        }
        widget.form()->name_lineEdit->setText(c.hostName);
        widget.form()->port_lineEdit->setText(c.http);
        widget.form()->web_port_lineEdit->setText(c.websocket);
        widget.dialogSave();
        g_savePath = savedPath;

        ASSERT_NE(widget.saveBox(), nullptr);
        EXPECT_EQ(widget.saveBox()->isSuccess(), c.ok);
        EXPECT_TRUE(widget.saveBox()->isVisible());
        if (c.ok) {
            EXPECT_EQ(widget.saveBox()->text(), "Save Sucessful");
        } else {
            EXPECT_TRUE(widget.saveBox()->text().startsWith("Save Failed\n")) << qPrintable(widget.saveBox()->text());
            EXPECT_TRUE(widget.saveBox()->text().contains(c.reason)) << qPrintable(widget.saveBox()->text());
        }
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.file);
        if (QString(c.name) == "no change") {
            struct stat after { };
            ::stat(QFile::encodeName(file).constData(), &after);
            EXPECT_EQ(after.st_ino, before.st_ino) << "device.cfg was rewritten";
        }
        EXPECT_EQ(g_httpPort, c.httpPort);
        EXPECT_EQ(g_websocketPort, 18444) << "the running WebSocket port changes only at the next start";
        EXPECT_EQ(widget.websocketPort(), c.websocketPort);
        EXPECT_EQ(widget.form()->port_edit->text(), "Http Port: " + QString::number(c.httpPort));
        EXPECT_EQ(widget.form()->web_port_edit->text(), "Web Sockets Port: " + QString::number(c.websocketPort));
        EXPECT_EQ(widget.ndiHostName(), c.ok ? c.hostName : host);

        // Restart follows only a good save, and only once the window has closed.
        QSignalSpy destroyAll(&widget, &Widget::destroyAll);
        if (c.unwritable)
            g_savePath = home.home() + "/plain/general";
        widget.dialogRestart();
        g_savePath = savedPath;
        EXPECT_EQ(widget.restartRequested(), c.ok);
        EXPECT_EQ(widget.isVisible(), !c.ok);
        EXPECT_EQ(destroyAll.isEmpty(), !c.ok);
    }
}

TEST_F(WidgetTest, ChangedPortThatCannotBeBoundIsRefusedWithTheReason)
{
    // Held by another program, on every address as the servers listen.
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    const int held = other.serverPort();
    const QString heldText = QString::number(held);
    struct Case {
        const char* name;
        QString http, websocket;
        bool served; // the running servers hold the port themselves
        const char* reason;
    };
    const std::vector<Case> cases {
        { "http port", heldText, "18444", false, "Http Port " },
        { "websocket port", "18443", heldText, false, "Web Sockets Port " },
        { "one the running servers hold", heldText, "18444", true, nullptr },
    };
    const QByteArray stored = deviceConfig(18443, 18444, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetPorts();
        ASSERT_TRUE(testsupport::writeFile(g_savePath + "/device.cfg", stored));
        Widget widget;
        widget.initWidget("en");
        if (c.served)
            widget.addServedPort(held);
        widget.show();
        widget.dialogShow();
        widget.form()->port_lineEdit->setText(c.http);
        widget.form()->web_port_lineEdit->setText(c.websocket);
        widget.dialogSave();

        ASSERT_NE(widget.saveBox(), nullptr);
        EXPECT_EQ(widget.saveBox()->isSuccess(), !c.reason);
        QFile f(g_savePath + "/device.cfg");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        if (!c.reason) {
            EXPECT_EQ(f.readAll(), deviceConfig(held, 18444, 0));
            continue;
        }
        const QString text = widget.saveBox()->text();
        EXPECT_TRUE(text.startsWith("Save Failed\n" + QString(c.reason) + heldText + " cannot be used: "))
            << qPrintable(text);
        EXPECT_TRUE(text.contains("in use")) << qPrintable(text);
        EXPECT_EQ(f.readAll(), stored);
        EXPECT_EQ(g_httpPort, 18443);
        EXPECT_EQ(widget.websocketPort(), 18444);
        widget.dialogRestart();
        EXPECT_FALSE(widget.restartRequested());
    }
}

TEST_F(WidgetTest, HttpListenFailureTakesThePlaceOfTheAddressAndItsCode)
{
    Widget widget;
    widget.initWidget("en");
    widget.fillAddresses({ QHostAddress("192.0.2.10") });
    widget.show();
    ASSERT_EQ(widget.offeredUrl(), "https://192.0.2.10:81/");
    EXPECT_FALSE(widget.form()->listen_error_label->isVisible());

    widget.showHttpListenFailure(81, "The address is protected");
    const WidgetForm* form = widget.form();
    for (QWidget* gone : { static_cast<QWidget*>(form->qrtxt_label), static_cast<QWidget*>(form->qrcode_label),
             static_cast<QWidget*>(form->comboBox), static_cast<QWidget*>(form->cpy_btn) })
        EXPECT_FALSE(gone->isVisible()) << gone->objectName().toStdString();
    EXPECT_TRUE(form->listen_error_label->isVisible());
    EXPECT_EQ(widget.offeredUrl(), "");
    const auto shown = [&] {
        const QString text = form->listen_error_label->text();
        return text.contains("port 81") && text.contains("The address is protected")
            && text.contains("Choose another port in Settings.");
    };
    EXPECT_TRUE(shown()) << qPrintable(form->listen_error_label->text());
    // Still there after the texts are set again for a language switch.
    widget.retranslate();
    EXPECT_TRUE(shown()) << qPrintable(form->listen_error_label->text());
}

TEST_F(WidgetTest, ReplacementStartsWithTheSameArgumentsAndFolder)
{
    QTemporaryDir dir;
    const QString script = dir.filePath("replacement.sh");
    const QString report = dir.filePath("report");
    ASSERT_TRUE(testsupport::writeFile(script,
        QString("#!/bin/sh\n{ pwd -P; for a in \"$@\"; do echo \"arg:$a\"; done; } > '%1.tmp'\nmv '%1.tmp' '%1'\n")
            .arg(report)
            .toUtf8()));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    Widget widget;
    Widget::setRestartProgram(script);
    ASSERT_TRUE(widget.startReplacement());
    ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(report); }, 10000));
    QFile f(report);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeFirst(), QFileInfo(QDir::currentPath()).canonicalFilePath());
    QStringList expectedArgs;
    for (const QString& a : QCoreApplication::arguments().mid(1))
        expectedArgs << "arg:" + a;
    EXPECT_EQ(lines, expectedArgs);

    Widget::setRestartProgram(dir.filePath("missing"));
    EXPECT_FALSE(widget.startReplacement());
}

// Every text a person can read in the window, the settings window, the About
// window and the title bars, by object path.
QMap<QString, QString> visibleTexts(Widget& widget)
{
    QMap<QString, QString> texts;
    // The settings and About windows are the main window's children.
    QList<QWidget*> roots { &widget };
    for (QWidget* root : roots) {
        QList<QWidget*> all = root->findChildren<QWidget*>();
        all.prepend(root);
        for (QWidget* w : all) {
            QString key;
            for (QObject* o = w; o; o = o->parent())
                key.prepend(QString("/%1:%2").arg(o->metaObject()->className(), o->objectName()));
            while (texts.contains(key) || texts.contains(key + "#tip"))
                key += "+";
            if (!w->toolTip().isEmpty())
                texts[key + "#tip"] = w->toolTip();
            if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty())
                texts[key] = l->text();
            if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty())
                texts[key] = b->text();
            if (auto* t = qobject_cast<QTextEdit*>(w); t && !t->toPlainText().isEmpty())
                texts[key] = t->toPlainText();
            if (w == widget.form()->port_edit || w == widget.form()->web_port_edit)
                texts[key] = static_cast<QLineEdit*>(w)->text();
        }
    }
    const QList<QAction*> actions = widget.titleBar()->helpMenu()->actions();
    for (int i = 0; i < actions.size(); ++i)
        texts[QString("menu/%1").arg(i)] = actions[i]->text();
    return texts;
}

TEST_F(WidgetTest, LanguageSwitchRetranslatesEveryWindow)
{
    ASSERT_TRUE(testsupport::writeFile(g_savePath + "/device.cfg", deviceConfig(18443, 18444, 0)));
    Translator translator;
    translator.setSomething(*qApp);
    Widget widget;
    QObject::connect(&widget, &Widget::langChanged, &translator, &Translator::loadLanguage);
    widget.initWidget("de");
    translator.loadLanguage("en");
    widget.show();
    widget.dialogShow();
    widget.showAboutDialog();
    widget.form()->name_lineEdit->setText("x");
    widget.form()->port_lineEdit->setText("abc");
    widget.dialogSave(); // the failure box carries a translated reason too
    ASSERT_EQ(widget.titleBar()->language(), "en") << "any start-up code but zh shows English";

    const QMap<QString, QString> english = visibleTexts(widget);
    const QString englishBox = widget.saveBox()->text();
    ASSERT_GT(english.size(), 20);

    widget.titleBar()->switchLanguage();
    EXPECT_EQ(widget.titleBar()->language(), "zh");
    widget.dialogSave();
    const QMap<QString, QString> chinese = visibleTexts(widget);
    EXPECT_EQ(QStringList(chinese.keys()).join('\n'), QStringList(english.keys()).join('\n'));
    for (auto it = english.begin(); it != english.end(); ++it) {
        EXPECT_NE(chinese.value(it.key()), it.value()) << qPrintable(it.key()) << " is still English";
    }
    EXPECT_NE(widget.saveBox()->text(), englishBox);
    EXPECT_TRUE(widget.form()->port_edit->text().endsWith("18443"));
    EXPECT_TRUE(widget.form()->web_port_edit->text().endsWith("18444"));
    const QList<QAction*> actions = widget.titleBar()->helpMenu()->actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0]->text(), QString::fromUtf8("关于 Panoptra Pro"));

    widget.titleBar()->switchLanguage();
    widget.dialogSave();
    EXPECT_EQ(visibleTexts(widget), english);
    widget.close();
}

class UrlRecorder : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { urls << url; }

public:
    QList<QUrl> urls;
};

TEST_F(WidgetTest, AboutWindowIsMadeOnceAndKeepsItsPlace)
{
    Widget widget;
    widget.initWidget("en");
    widget.move(40, 30);
    widget.show();
    widget.showAboutDialog();
    AboutDialog* about = widget.aboutDialog();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->pos(), QPoint(40 + (1280 - 700) / 2 + 100, 30 + (800 - 720) / 2));
    // The 226 px label centres the 266 px logo: only transparency may lie in
    // the 20 px it cuts on each side.
    QLabel* logo = nullptr;
    for (QLabel* label : about->findChildren<QLabel*>()) {
        if (!label->pixmap(Qt::ReturnByValue).isNull())
            logo = label;
    }
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->width(), 226);
    const QImage logoImage = logo->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(logoImage.width(), 266);
    int cut = 0, shown = 0;
    for (int y = 0; y < logoImage.height(); ++y)
        for (int x = 0; x < logoImage.width(); ++x)
            if (qAlpha(logoImage.pixel(x, y)) != 0)
                ++(x < 20 || x >= 246 ? cut : shown);
    EXPECT_EQ(cut, 0);
    EXPECT_GT(shown, 0);
    about->move(about->pos() + QPoint(15, 25));
    const QPoint moved = about->pos();
    about->close();
    widget.showAboutDialog();
    EXPECT_EQ(widget.aboutDialog(), about);
    EXPECT_EQ(about->pos(), moved);
    EXPECT_TRUE(about->isVisible());

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    QPushButton* check = nullptr;
    for (QPushButton* b : about->findChildren<QPushButton*>())
        if (b->text() == "Check Update")
            check = b;
    ASSERT_NE(check, nullptr);
    check->click();
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(recorder.urls.size(), 1);
    EXPECT_EQ(recorder.urls[0].scheme(), "https");

    // The About window's own close button closes only it.
    SubTitleBar* bar = about->findChild<SubTitleBar*>();
    ASSERT_NE(bar, nullptr);
    bar->findChild<QPushButton*>()->click();
    EXPECT_FALSE(about->isVisible());
    EXPECT_TRUE(widget.isVisible());
    widget.close();

    g_is_neutral_version = true;
    Widget neutral;
    neutral.initWidget("en");
    g_is_neutral_version = false;
    EXPECT_TRUE(neutral.titleBar()->helpMenu()->actions().isEmpty());
}

TEST_F(WidgetTest, WindowsMoveOnlyWhereTheyShould)
{
    Widget widget;
    widget.initWidget("en");
    widget.move(20, 20);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const QPoint start = widget.pos();

    // Double-clicking the title bar neither maximises nor moves.
    MyTitleBar* bar = widget.titleBar();
    const QPoint onBar = bar->mapToGlobal(QPoint(300, 20));
    QMouseEvent dbl(
        QEvent::MouseButtonDblClick, QPoint(300, 20), onBar, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &dbl);
    EXPECT_EQ(widget.pos(), start);
    EXPECT_EQ(widget.windowState(), Qt::WindowNoState);

    drag(bar, onBar, QPoint(30, 12), Qt::LeftButton);
    EXPECT_EQ(widget.pos(), start + QPoint(30, 12));

    // The settings bar drags the settings window alone.
    widget.dialogShow();
    QWidget* settings = widget.form()->set_widget;
    const QPoint mainBefore = widget.pos(), settingsBefore = settings->pos();
    SubTitleBar* sub = widget.settingsTitleBar();
    drag(sub, sub->mapToGlobal(QPoint(100, 20)), QPoint(-25, 40), Qt::LeftButton);
    EXPECT_EQ(settings->pos(), settingsBefore + QPoint(-25, 40));
    EXPECT_EQ(widget.pos(), mainBefore);

    // The save box follows a left drag only.
    widget.dialogSave();
    MsgBox* box = widget.saveBox();
    ASSERT_TRUE(box->isVisible());
    const QPoint boxBefore = box->pos();
    const QPoint onBox = box->mapToGlobal(QPoint(10, 10));
    drag(box, onBox, QPoint(50, 50), Qt::RightButton);
    EXPECT_EQ(box->pos(), boxBefore);
    drag(box, onBox, QPoint(50, 50), Qt::LeftButton);
    EXPECT_EQ(box->pos(), boxBefore + QPoint(50, 50));

    // No minimise while the settings window is open; its bar's close hides it and the box.
    ASSERT_TRUE(settings->isVisible());
    ASSERT_FALSE(widget.isMinimized());
    widget.minimizedWindow();
    EXPECT_FALSE(widget.isMinimized());
    sub->findChild<QPushButton*>()->click();
    EXPECT_FALSE(settings->isVisible());
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(widget.isVisible());

    widget.minimizedWindow();
    EXPECT_TRUE(widget.isMinimized());
    widget.setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(testsupport::waitFor([&] { return widget.isVisible() && widget.isActiveWindow(); }, 5000));
    EXPECT_TRUE(widget.windowFlags() & Qt::FramelessWindowHint);
    widget.close();
}

// Answers the next modal dialog: a folder dialog gets folder, a message box is
// read and dismissed.
class DialogDriver : public QObject {
public:
    QString folder;
    QStringList messages;

    // Keeps looking until the object goes (the test's click has returned).
    void arm()
    {
        QTimer::singleShot(20, this, [this] { answer(); });
    }

private:
    void answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            dialog->setDirectory(folder);
            dialog->selectFile(folder);
            QMetaObject::invokeMethod(dialog, "accept");
        } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible()) {
            messages << box->text();
            box->accept();
        }
        arm();
    }
};

TEST_F(WidgetTest, LogExportCopiesTheLogFilesOnly)
{
    for (const char* name :
        { "log_20261210_101010.000.log", "log_20261210_111111.000.log", "notes.txt", "a.log.bak", "settings.ini" })
        ASSERT_TRUE(testsupport::writeFile(g_savePath + "/" + name, name));
    ASSERT_TRUE(QDir().mkpath(g_savePath + "/old.log"));
    QTemporaryDir target;

    Widget widget;
    widget.initWidget("en");
    widget.show();
    auto exportTo = [&](const QString& folder) {
        DialogDriver driver;
        driver.folder = folder;
        driver.arm();
        widget.form()->export_log_btn->click();
        return driver.messages;
    };
    EXPECT_TRUE(exportTo(target.path()).isEmpty());
    const QStringList copied
        = QDir(target.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    EXPECT_EQ(copied, QStringList({ "log_20261210_101010.000.log", "log_20261210_111111.000.log" }));

    // Again into the same folder: the first file already there fails the export.
    const QStringList messages = exportTo(target.path());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("Failed to export the log file.")) << qPrintable(messages[0]);

    EXPECT_FALSE(widget.copyFileToPath(g_savePath, target.path() + "/missing", false));
    EXPECT_TRUE(widget.copyFileToPath(g_savePath, target.path(), true));
    widget.close();
}

} // namespace

#include "Widget_test.moc"
