#pragma once
// Widget: the desktop main window, showing where the browser interface is
// reached (access addresses and ports) and starting the shutdown when closed.
//
// Owner: CommonInterface::init (an automatic object for the life of the event
// loop). Thread: GUI only; destroyAll() reaches the HTTPS thread queued.
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;

class Widget : public QWidget {
    Q_OBJECT
public:
    explicit Widget(QWidget* parent = nullptr);

    // Reads "device.cfg" (sets g_httpPort and g_websocketPort before any
    // server starts) and fills the window's texts. language is the system
    // language code, not normalised.
    void initWidget(const QString& language);

signals:
    void destroyAll();
    void qrcodeChanged(QString url);
    void langChanged(QString lang);

public slots:
    // Lists "https://<IPv4>:<g_httpPort>/" for every address but localhost.
    void updateAddress();
    void createNewQrcode(const QString& url);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void readDeviceConfig();

    QLabel* m_qrText;
    QComboBox* m_addresses;
    QLineEdit* m_portEdit;
    QLineEdit* m_webPortEdit;
    QLabel* m_versionLabel;

    QString m_ndiHostName = QStringLiteral("Panoptra Server MAX");
    QString m_currentAddress;
    int m_runAtStartup = 0;  // a Qt::CheckState kept in "device.cfg"
    int m_websocketPort = 0; // the window's copy, saved to "device.cfg"
};
