#include "Widget.h"

#include "AboutDialog.h"
#include "MsgBox.h"
#include "MyTitleBar.h"
#include "QRCodeGenerator.h"
#include "SubTitleBar.h"
#include "WidgetForm.h"
#include "base/AtomicFile.h"
#include "base/Globals.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHostInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTimer>
#include <QWindowStateChangeEvent>

#include <cstdio>

namespace {
const QString kAddressTemplate = QStringLiteral("https://%1:%2/");
constexpr int kDefaultHttpPort = 81;
constexpr int kDefaultWebsocketPort = 12345;
constexpr int kQrSide = 210;
constexpr int kQrCodeSize = 205;

QString s_restartProgram;

// A stored port no server can listen on (0 from a short file, a negative
// value or one above 65535) gives way to the default.
int usablePort(qint32 stored, int fallback, const char* which)
{
    if (stored >= 1 && stored <= 65535)
        return stored;
    qWarning() << "device.cfg holds no usable" << which << "port (" << stored << "), using" << fallback;
    return fallback;
}

// Whether a server could listen on port now (on every address, as the
// servers do); reason says why not.
bool portCanBeBound(int port, QString* reason)
{
    QTcpServer probe;
    if (probe.listen(QHostAddress::Any, quint16(port)))
        return true;
    *reason = probe.errorString();
    return false;
}

// An edited port: decimal digits only (blanks around them ignored), 1..65535.
bool parsePort(const QString& text, int* port)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const QString trimmed = text.trimmed();
    if (!digits.match(trimmed).hasMatch())
        return false;
    const int value = trimmed.toInt();
    if (value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

QString comboStyle()
{
    return QString("QComboBox{border:1px solid transparent;border-radius:8px;padding:1px 18px 1px 28px;"
                   "color:#fff;font:normal normal 16px;background:#2C2C33;}"
                   "QComboBox QAbstractItemView{outline:0px solid gray;border:1px solid #212126;"
                   "padding:1px 18px 1px 26px;font:normal normal 16px;color:#FFFFFF;background:#2C2C33;"
                   "selection-background-color:transparent;}"
                   "QComboBox QAbstractItemView::item{height:30px;}"
                   "QComboBox QAbstractItemView::item:hover{color:#FFFFFF;background-color:#2C2C33;}"
                   "QComboBox QAbstractItemView::item:selected{color:#FFFFFF;background-color:#2C2C33;}"
                   "QComboBox::down-arrow{padding:0px 28px 0px 0px;image:url(%1);}"
                   "QComboBox::drop-down{border:none;}")
        .arg(g_resPath + "/img/arrow_down.png");
}

void setScaledImage(QLabel* label, const QString& file, int w, int h)
{
    label->setPixmap(QPixmap(g_resPath + file).scaled(w, h, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
} // namespace

Widget::Widget(QWidget* parent)
    : QWidget(parent)
    , m_ui(new WidgetForm)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    m_ui->set_widget->hide();
}

Widget::~Widget()
{
    m_ui->set_widget->close();
    delete m_ui;
    delete m_titleBar;
    delete m_setTitleBar;
    delete m_qrGenerator;
    delete m_aboutDialog;
}

void Widget::readDeviceConfig()
{
    QFile file(g_savePath + "/device.cfg");
    if (file.open(QIODevice::ReadOnly)) {
        // Three big-endian 32-bit integers; a short file reads 0 for what it lacks.
        QDataStream in(&file);
        qint32 httpPort = 0, websocketPort = 0, runAtStartup = 0;
        in >> httpPort >> websocketPort >> runAtStartup;
        g_httpPort = usablePort(httpPort, kDefaultHttpPort, "http");
        g_websocketPort = usablePort(websocketPort, kDefaultWebsocketPort, "websocket");
        m_runAtStartup = runAtStartup;
    }
    qDebug() << "http port :" << g_httpPort;
    qDebug() << "websocket port: " << g_websocketPort;
}

void Widget::initWidget(const QString& language)
{
    readDeviceConfig();
    m_websocketPort = g_websocketPort;
    m_ndiHostName = QHostInfo::localHostName();

    m_titleBar = new MyTitleBar(this);
    m_titleBar->initStyles(QString());
    m_titleBar->setLanguage(language);
    m_titleBar->setGeometry(0, 0, width(), 56);
    // The relay first: the new catalogue is loaded before the texts are re-applied.
    connect(m_titleBar, &MyTitleBar::closeClicked, this, &Widget::closeWindow);
    connect(m_titleBar, &MyTitleBar::minimizedClicked, this, &Widget::minimizedWindow);
    connect(m_titleBar, &MyTitleBar::langChanged, this, &Widget::langChanged);
    connect(m_titleBar, &MyTitleBar::langChanged, this, &Widget::retranslate);
    m_ui->horizontalLayout->addWidget(m_titleBar);

    setScaledImage(m_ui->bg_label, "/img/bg1.png", 266, 250);
    setScaledImage(m_ui->icon_label, "/img/logo.png", 144, 46);
    setScaledImage(m_ui->title_label, "/img/icon.png", 268, 48);

    m_ui->port_edit->setFocusPolicy(Qt::NoFocus);
    m_ui->web_port_edit->setFocusPolicy(Qt::NoFocus);

    initSubDialog();
    m_ui->name_lineEdit->setTextMargins(13, 17, 0, 16);
    m_ui->port_lineEdit->setTextMargins(13, 18, 0, 17);
    m_ui->web_port_lineEdit->setTextMargins(13, 18, 0, 17);
    m_ui->checkBox->setCheckState(Qt::CheckState(m_runAtStartup));

    setPortLines();

    // Until an address is known the label shows a blank code: an address
    // without a host would lead a phone nowhere.
    if (!m_qrGenerator)
        m_qrGenerator = new QRCodeGenerator;
    if (QImage* blank = m_qrGenerator->getImage(kQrSide, kQrSide, kQrCodeSize)) {
        m_ui->qrcode_label->setPixmap(QPixmap::fromImage(*blank));
        delete blank;
    }
    m_ui->qrcode_label->resize(kQrSide, kQrSide);

    m_ui->comboBox->setStyleSheet(comboStyle());
    m_ui->comboBox->setView(new QListView(m_ui->comboBox));

    connect(m_ui->set_btn, &QPushButton::clicked, this, &Widget::dialogShow);
    m_ui->checkBox->hide();
    connect(m_ui->cpy_btn, &QPushButton::clicked, this, &Widget::copyToClipBoard);
    connect(m_titleBar, &MyTitleBar::aboutDialogReady, this, &Widget::showAboutDialog);
    connect(m_ui->comboBox, &QComboBox::currentTextChanged, this, &Widget::createNewQrcode);
    connect(m_ui->export_log_btn, &QPushButton::clicked, this, &Widget::logExportPathSelected);
}

void Widget::setPortLines()
{
    m_ui->port_edit->setText(tr("Http Port: ") + QString::number(g_httpPort));
    m_ui->web_port_edit->setText(tr("Web Sockets Port: ") + QString::number(m_websocketPort));
    m_ui->version_label->setText(tr("Version Info: ") + g_version);
    m_ui->version_label->setAlignment(Qt::AlignCenter);
}

void Widget::showHttpListenFailure(int port, const QString& reason)
{
    m_failedHttpPort = port;
    m_httpListenError = reason;
    m_servedPorts.removeAll(port);
    for (QWidget* w : { static_cast<QWidget*>(m_ui->qrtxt_label), static_cast<QWidget*>(m_ui->qrcode_label),
             static_cast<QWidget*>(m_ui->comboBox), static_cast<QWidget*>(m_ui->cpy_btn) })
        w->hide();
    setListenFailureText();
    m_ui->listen_error_label->show();
}

void Widget::setListenFailureText()
{
    if (m_failedHttpPort == 0)
        return;
    m_ui->listen_error_label->setText(
        tr("The browser interface is not served: the HTTPS server cannot listen on port %1.").arg(m_failedHttpPort)
        + "\n" + m_httpListenError + "\n\n" + tr("Choose another port in Settings."));
}

QString Widget::offeredUrl() const
{
    return m_failedHttpPort == 0 ? m_ui->comboBox->currentText() : QString();
}

void Widget::initSubDialog()
{
    m_ui->set_widget->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    m_setTitleBar = new SubTitleBar(this, m_ui->set_widget);
    m_setTitleBar->setTitle(tr("Settings"));
    m_setTitleBar->initStyles("Settings");
    m_setTitleBar->resize(width(), 56);
    m_ui->title_layout->addWidget(m_setTitleBar);
    m_ui->set_widget->close();
    connect(m_ui->save_btn, &QPushButton::clicked, this, &Widget::dialogSave);
    connect(m_ui->restart_btn, &QPushButton::clicked, this, &Widget::dialogRestart);
}

void Widget::updateAddress()
{
    fillAddresses(QNetworkInterface::allAddresses());
}

void Widget::fillAddresses(const QList<QHostAddress>& addresses)
{
    for (const QHostAddress& address : addresses) {
        if (address == QHostAddress(QHostAddress::LocalHost) || address.toIPv4Address() == 0)
            continue;
        const QString url = kAddressTemplate.arg(address.toString()).arg(g_httpPort);
        // The first entry of an empty list becomes current, which announces it
        // through currentTextChanged as well.
        m_ui->comboBox->addItem(url);
        if (m_currentAddress.isEmpty()) {
            m_currentAddress = address.toString();
            createNewQrcode(url);
        }
    }
}

void Widget::createNewQrcode(const QString& url)
{
    if (!m_qrGenerator)
        m_qrGenerator = new QRCodeGenerator;
    m_qrGenerator->setString(url);
    if (QImage* image = m_qrGenerator->getImage(kQrSide, kQrSide, kQrCodeSize)) {
        m_ui->qrcode_label->setPixmap(QPixmap::fromImage(*image));
        delete image;
    }
    m_ui->qrcode_label->resize(kQrSide, kQrSide);
    emit qrcodeChanged(url);
}

void Widget::copyToClipBoard()
{
    QGuiApplication::clipboard()->setText(m_ui->comboBox->currentText(), QClipboard::Clipboard);
}

void Widget::shutDown()
{
    emit destroyAll();
    if (m_aboutDialog && m_aboutDialog->isVisible())
        m_aboutDialog->close();
    if (m_setTitleBar)
        m_setTitleBar->close();
    m_ui->set_widget->close();
}

void Widget::closeWindow()
{
    // Closing the window runs closeEvent too: destroyAll comes twice, which
    // its receivers take.
    shutDown();
    close();
}

void Widget::closeEvent(QCloseEvent* event)
{
    shutDown();
    event->accept();
}

void Widget::minimizedWindow()
{
    if (m_ui->set_widget->isVisible())
        return;
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowFullscreenButtonHint);
    showMinimized();
}

void Widget::changeEvent(QEvent* event)
{
    if (event->type() != QEvent::WindowStateChange)
        return;
    auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (change->oldState() == Qt::WindowMinimized) {
        // Restored from the taskbar: frameless again, in front and active.
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        showNormal();
        raise();
        activateWindow();
    }
}

void Widget::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.fillRect(0, 0, 372, 800, QColor("#212126"));
    painter.fillRect(372, 0, 908, 800, QColor("#17181a"));
}

void Widget::retranslate()
{
    m_ui->retranslateUi(this);
    setPortLines();
    setListenFailureText();
    if (m_setTitleBar) {
        m_setTitleBar->setTitle(tr("Settings"));
        m_setTitleBar->retranslate();
    }
    if (m_titleBar)
        m_titleBar->retranslate();
    if (m_aboutDialog)
        m_aboutDialog->retranslate();
}

void Widget::showAboutDialog()
{
    if (!m_aboutDialog) {
        m_aboutDialog = new AboutDialog(this);
        m_aboutDialog->setGeometry(x() + (width() - 700) / 2 + 100, y() + (height() - 720) / 2, 700, 720);
    }
    m_aboutDialog->retranslate();
    m_aboutDialog->show();
}

void Widget::dialogShow()
{
    m_ui->name_lineEdit->setText(m_ndiHostName);
    m_ui->port_lineEdit->setText(QString::number(g_httpPort));
    m_ui->web_port_lineEdit->setText(QString::number(m_websocketPort));
    m_ui->set_widget->show();
    m_ui->set_widget->setGeometry(x() + (width() - 724) / 2 + 120, y() + (height() - 465) / 2, 724, 465);
    auto paint = [](QWidget* w, const char* colour) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::All, QPalette::Window, QColor(colour));
        w->setPalette(palette);
        w->setAutoFillBackground(true);
    };
    paint(m_setTitleBar, "#2C2C33");
    paint(m_ui->set_widget, "#212126");
}

bool Widget::saveConfig()
{
    m_saveError.clear();
    const QString name = m_ui->name_lineEdit->text();
    int httpPort = 0;
    int websocketPort = 0;
    // Nothing is taken before every field is known to be usable.
    if (!parsePort(m_ui->port_lineEdit->text(), &httpPort)) {
        m_saveError = tr("Http Port must be a whole number from 1 to 65535.");
        return false;
    }
    if (!parsePort(m_ui->web_port_lineEdit->text(), &websocketPort)) {
        m_saveError = tr("Web Sockets Port must be a whole number from 1 to 65535.");
        return false;
    }
    if (httpPort == websocketPort) {
        m_saveError = tr("Http Port and Web Sockets Port must differ.");
        return false;
    }
    if (name == m_ndiHostName && httpPort == g_httpPort && websocketPort == m_websocketPort)
        return true;
    if (!portUsable(httpPort, g_httpPort, tr("Http Port"))
        || !portUsable(websocketPort, m_websocketPort, tr("Web Sockets Port")))
        return false;

    if (!writeDeviceConfig(httpPort, websocketPort)) {
        m_saveError = tr("The settings could not be written.");
        return false;
    }
    // The running servers keep their ports until the next start reads the file.
    g_httpPort = httpPort;
    m_websocketPort = websocketPort;
    m_ndiHostName = name;
    m_ui->port_edit->setText(tr("Http Port: ") + QString::number(g_httpPort));
    m_ui->web_port_edit->setText(tr("Web Sockets Port: ") + QString::number(m_websocketPort));
    return true;
}

bool Widget::portUsable(int port, int previous, const QString& field)
{
    // A port the running servers hold is free again once they stop for the restart.
    if (port == previous || m_servedPorts.contains(port))
        return true;
    QString reason;
    if (portCanBeBound(port, &reason))
        return true;
    m_saveError = tr("%1 %2 cannot be used: %3").arg(field).arg(port).arg(reason);
    return false;
}

bool Widget::writeDeviceConfig(int httpPort, int websocketPort)
{
    // Written whole to a temporary file and renamed over the old one, so a
    // failure or a crash leaves the previous ports in place.
    qDebug() << "save new websocketPort :" << websocketPort;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << qint32(httpPort) << qint32(websocketPort) << qint32(m_runAtStartup);
    return out.status() == QDataStream::Ok && AtomicFile::write(g_savePath + "/device.cfg", bytes);
}

void Widget::showSaveResult(bool ok)
{
    if (!m_saveBox)
        m_saveBox = new MsgBox(m_ui->set_widget);
    QString text = ok ? tr("Save Sucessful") : tr("Save Failed");
    if (!ok && !m_saveError.isEmpty())
        text += "\n" + m_saveError;
    m_saveBox->setInfo(tr("save"), ok, text);
    if (!m_saveBox->isVisible())
        m_saveBox->show();
    QTimer::singleShot(3000, m_saveBox, &MsgBox::close);
}

void Widget::dialogSave()
{
    showSaveResult(saveConfig());
}

void Widget::dialogRestart()
{
    // A restart after a failed save would come back with the old settings.
    if (!saveConfig()) {
        showSaveResult(false);
        return;
    }
    m_restartRequested = true;
    emit destroyAll();
    if (m_aboutDialog && m_aboutDialog->isVisible())
        m_aboutDialog->close();
    if (m_ui->set_widget->isVisible())
        m_ui->set_widget->close();
    close();
}

void Widget::setRestartProgram(const QString& program)
{
    s_restartProgram = program;
}

bool Widget::startReplacement()
{
    const QString program = s_restartProgram.isEmpty() ? QCoreApplication::applicationFilePath() : s_restartProgram;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    qint64 pid = 0;
    if (QProcess::startDetached(program, arguments, QDir::currentPath(), &pid)) {
        qInfo() << "restart: started" << program << "as pid" << pid;
        return true;
    }
    qCritical() << "restart: cannot start" << program;
    std::fprintf(stderr, "restart: cannot start %s\n", qPrintable(program));
    return false;
}

void Widget::closeSetWindow()
{
    if (m_ui->set_widget->isVisible())
        m_ui->set_widget->close();
    if (m_saveBox && m_saveBox->isVisible())
        m_saveBox->close();
}

void Widget::logExportPathSelected()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Open Directory"), "/", QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    qDebug() << "source path " << g_savePath;
    qDebug() << "target path :" << folder;
    if (folder.isEmpty())
        return;
    if (!copyFileToPath(g_savePath, folder, false)) {
        QMessageBox box(QMessageBox::Warning, tr("Export logs"),
            tr("Failed to export the log file. Please check whether the target folder exists. If it exists, please "
               "check the permissions of the target folder."),
            QMessageBox::Ok, this);
        box.exec();
    }
}

bool Widget::copyFileToPath(const QString& source, const QString& target, bool overwrite)
{
    QDir targetDir(target);
    if (!targetDir.exists())
        return false;
    static const QRegularExpression logName(QStringLiteral("^(.+)\\.log$"));
    const QFileInfoList entries = QDir(source).entryInfoList(QDir::NoFilter, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == "." || entry.fileName() == ".." || entry.isDir())
            continue;
        if (!logName.match(entry.fileName()).hasMatch()) {
            qDebug() << "没有匹配的日志文件" << entry.fileName();
            continue;
        }
        const QString to = targetDir.filePath(entry.fileName());
        if (overwrite && QFile::exists(to))
            QFile::remove(to);
        if (!QFile::copy(entry.filePath(), to))
            return false;
    }
    return true;
}

void Widget::changeLogStatus()
{
    QString path = g_savePath;
    if (!path.endsWith('/'))
        path += '/';
    QSettings settings(path + "settings.ini", QSettings::IniFormat);
    settings.beginGroup("settings");
    settings.setValue("level", 0);
    settings.endGroup();
}

void Widget::setAutomaticSoftwareStartup(int state)
{
    // No start at login is registered: the state only round-trips through "device.cfg".
    Q_UNUSED(state)
}
