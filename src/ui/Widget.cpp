#include "Widget.h"

#include "Globals.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QNetworkInterface>

namespace {
const QString kAddressTemplate = QStringLiteral("https://%1:%2/");
constexpr int kDefaultHttpPort = 81;
constexpr int kDefaultWebsocketPort = 12345;

// A stored port no server can listen on (0 from a short file, a negative
// value or one above 65535) gives way to the default.
int usablePort(qint32 stored, int fallback, const char* which)
{
    if (stored >= 1 && stored <= 65535)
        return stored;
    qWarning() << "device.cfg holds no usable" << which << "port (" << stored << "), using" << fallback;
    return fallback;
}
} // namespace

Widget::Widget(QWidget* parent)
    : QWidget(parent)
    , m_qrText(new QLabel(this))
    , m_addresses(new QComboBox(this))
    , m_portEdit(new QLineEdit(this))
    , m_webPortEdit(new QLineEdit(this))
    , m_versionLabel(new QLabel(this))
{
    setObjectName("Widget");
    setWindowFlags(Qt::FramelessWindowHint);
    resize(1280, 800);
    setWindowTitle(tr("Widget"));

    m_qrText->setObjectName("qrtxt_label");
    m_qrText->setGeometry(564, 250, 530, 23);
    m_qrText->setAlignment(Qt::AlignCenter);
    m_qrText->setText(tr("Scan the QR code or copy the link to share"));
    m_addresses->setObjectName("comboBox");
    m_addresses->setGeometry(607, 560, 444, 46);
    m_portEdit->setObjectName("port_edit");
    m_portEdit->setGeometry(70, 280, 226, 46);
    m_webPortEdit->setObjectName("web_port_edit");
    m_webPortEdit->setGeometry(70, 350, 226, 46);
    m_versionLabel->setObjectName("version_label");
    m_versionLabel->setGeometry(70, 490, 226, 16);
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
    Q_UNUSED(language)
    readDeviceConfig();
    m_websocketPort = g_websocketPort;
    m_ndiHostName = QHostInfo::localHostName();

    m_portEdit->setFocusPolicy(Qt::NoFocus);
    m_webPortEdit->setFocusPolicy(Qt::NoFocus);
    m_portEdit->setAlignment(Qt::AlignCenter);
    m_webPortEdit->setAlignment(Qt::AlignCenter);
    m_portEdit->setText(tr("Http Port: ") + QString::number(g_httpPort));
    m_webPortEdit->setText(tr("Web Sockets Port: ") + QString::number(m_websocketPort));
    m_versionLabel->setText(tr("Version Info: ") + g_version);
    m_versionLabel->setAlignment(Qt::AlignCenter);

    m_addresses->setView(new QListView(m_addresses));
    connect(m_addresses, &QComboBox::currentTextChanged, this, &Widget::createNewQrcode);
}

void Widget::updateAddress()
{
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address == QHostAddress(QHostAddress::LocalHost) || address.toIPv4Address() == 0)
            continue;
        const QString url = kAddressTemplate.arg(address.toString()).arg(g_httpPort);
        // The first entry of an empty list becomes current, which announces it
        // through currentTextChanged as well.
        m_addresses->addItem(url);
        if (m_currentAddress.isEmpty()) {
            m_currentAddress = address.toString();
            createNewQrcode(url);
        }
    }
}

void Widget::createNewQrcode(const QString& url)
{
    emit qrcodeChanged(url);
}

void Widget::closeEvent(QCloseEvent* event)
{
    emit destroyAll();
    event->accept();
}
