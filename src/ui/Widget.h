#pragma once
// Widget: the desktop main window. It shows where the browser interface is
// reached (the access addresses, a QR code of the chosen one and a copy
// button), the two server ports and the version, and holds the settings
// window (host name and ports kept in "device.cfg", restart) and the export
// of the log files.
//
// Owner: CommonInterface::init (an automatic object for the life of the event
// loop). Thread: GUI only; destroyAll() reaches the HTTPS thread queued.
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QWidget>

class AboutDialog;
class MsgBox;
class MyTitleBar;
class QRCodeGenerator;
class SubTitleBar;
struct WidgetForm;

class Widget : public QWidget {
    Q_OBJECT
public:
    explicit Widget(QWidget* parent = nullptr);
    ~Widget() override;

    // Reads "device.cfg" (sets g_httpPort and g_websocketPort before any
    // server starts) and builds the title bar, settings window, texts and the
    // first (empty) QR code. language is the system language code, not normalised.
    void initWidget(const QString& language);

    // Lists "https://<address>:<g_httpPort>/" for each usable IPv4 address, in
    // order; the first becomes current and is encoded.
    void fillAddresses(const QList<QHostAddress>& addresses);

    // Takes the edited host name and ports: all of them, written to
    // "device.cfg" first, or none. False (with saveError()) on bad input, a
    // changed port that cannot be bound now (one the running servers hold
    // excepted: the restart frees it) or a failed write.
    bool saveConfig();
    // A port one of the running servers listens on.
    void addServedPort(int port) { m_servedPorts.append(port); }

    // The HTTPS server cannot listen on port: the window shows why, and that
    // another port is chosen in the settings, in place of the address list
    // and its QR code, which would lead nowhere.
    void showHttpListenFailure(int port, const QString& reason);
    // The address the window offers (empty before one is known, or when the
    // HTTPS server does not listen).
    QString offeredUrl() const;
    QString saveError() const { return m_saveError; }
    // Copies the ".log" files of source into the existing folder target.
    bool copyFileToPath(const QString& source, const QString& target, bool overwrite);

    // "Restart Now" was chosen and its save succeeded: start-up starts the
    // replacement once the servers have closed their sockets.
    bool restartRequested() const { return m_restartRequested; }
    // Starts this program again with the same arguments and working directory;
    // false when it could not be started (logged and said on stderr).
    bool startReplacement();
    // The program startReplacement() starts; empty means this executable.
    static void setRestartProgram(const QString& program);

    WidgetForm* form() const { return m_ui; }
    MyTitleBar* titleBar() const { return m_titleBar; }
    SubTitleBar* settingsTitleBar() const { return m_setTitleBar; }
    AboutDialog* aboutDialog() const { return m_aboutDialog; }
    MsgBox* saveBox() const { return m_saveBox; }
    QString ndiHostName() const { return m_ndiHostName; }
    int websocketPort() const { return m_websocketPort; }

signals:
    void destroyAll();
    void qrcodeChanged(QString url);
    void langChanged(QString lang);

public slots:
    void updateAddress();
    void createNewQrcode(const QString& url);
    void copyToClipBoard();
    void closeWindow();
    void minimizedWindow();
    void retranslate();
    void showAboutDialog();
    void dialogShow();
    void dialogSave();
    void dialogRestart();
    void logExportPathSelected();
    void changeLogStatus();
    void setAutomaticSoftwareStartup(int state);
    void closeSetWindow();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void readDeviceConfig();
    // Starts the servers' shutdown and closes the other windows.
    void shutDown();
    void initSubDialog();
    void setPortLines();
    void setListenFailureText();
    // Whether a changed port can be kept; sets m_saveError when not.
    bool portUsable(int port, int previous, const QString& field);
    void showSaveResult(bool ok);
    bool writeDeviceConfig(int httpPort, int websocketPort);

    WidgetForm* m_ui;
    MyTitleBar* m_titleBar = nullptr;
    SubTitleBar* m_setTitleBar = nullptr;
    AboutDialog* m_aboutDialog = nullptr;
    QRCodeGenerator* m_qrGenerator = nullptr;
    MsgBox* m_saveBox = nullptr;

    QString m_ndiHostName = QStringLiteral("Panoptra Server MAX");
    QString m_currentAddress;
    int m_runAtStartup = 0; // a Qt::CheckState kept in "device.cfg"
    int m_websocketPort = 0; // the window's copy, saved to "device.cfg"
    QString m_saveError;
    bool m_restartRequested = false;
    QList<int> m_servedPorts;
    int m_failedHttpPort = 0; // the port the HTTPS server could not listen on, 0 when none
    QString m_httpListenError;
};
