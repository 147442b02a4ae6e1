// The installation's own TLS identity and how the server uses it: made once
// per settings folder, kept owner-only; TLS 1.2 only with forward-secret
// AEAD suites; sessions resumed across connections; close_notify at the end.
#include "HttpTestClient.h"
#include "RawTlsClient.h"
#include "TestSupport.h"
#include "http/HttpServer.h"
#include "http/TlsIdentity.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>

#include <sys/stat.h>

namespace {

int modeOf(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Whether a TLS handshake with exactly this protocol (and, when named, this
// one suite) completes against port; the certificate the server showed.
bool handshake(quint16 port, QSsl::SslProtocol protocol, const QString& cipher, QSslCertificate* seen = nullptr)
{
    QSslSocket socket;
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    conf.setProtocol(protocol);
    if (!cipher.isEmpty())
        conf.setCiphers({ QSslCipher(cipher) });
    socket.setSslConfiguration(conf);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    testsupport::waitFor([&] { return socket.isEncrypted() || socket.state() == QAbstractSocket::UnconnectedState; });
    if (seen)
        *seen = socket.peerCertificate();
    const bool done = socket.isEncrypted();
    socket.abort();
    return done;
}

TEST(TlsIdentityTest, EachInstallationMakesItsOwnEcdsaIdentityOnceAndKeepsIt)
{
    const TlsIdentity builtIn = TlsIdentity::fromResources();
    ASSERT_TRUE(builtIn.isValid()) << builtIn.error().toStdString();

    QTemporaryDir dir;
    const QString folder = dir.path() + "/general";
    // Both servers ask at once at start-up: they must end up with one identity.
    QFuture<TlsIdentity> other = QtConcurrent::run([&] { return TlsIdentity::forInstallation(folder); });
    const TlsIdentity first = TlsIdentity::forInstallation(folder);
    ASSERT_TRUE(first.isValid()) << first.error().toStdString();
    EXPECT_EQ(other.result().certificate(), first.certificate());

    EXPECT_NE(first.certificate(), builtIn.certificate());
    EXPECT_EQ(first.privateKey().algorithm(), QSsl::Ec);
    EXPECT_EQ(first.privateKey().length(), 256);
    EXPECT_EQ(first.certificate().subjectAlternativeNames(), builtIn.certificate().subjectAlternativeNames());
    EXPECT_EQ(first.certificate().subjectInfo(QSslCertificate::CommonName),
        builtIn.certificate().subjectInfo(QSslCertificate::CommonName));
    EXPECT_TRUE(first.certificate().isSelfSigned());
    EXPECT_GT(first.certificate().expiryDate(), QDateTime::currentDateTimeUtc().addYears(5));

    for (const QString& name : { TlsIdentity::kInstallationKey, TlsIdentity::kInstallationCertificate })
        EXPECT_EQ(modeOf(folder + "/" + name), 0600) << name.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({ "server.crt", "server.key" })); // no temporaries

    // A later start (a copy made from the files, as a new process sees them)
    // reads the same identity instead of making another.
    const QString copy = dir.path() + "/copy";
    ASSERT_TRUE(QDir().mkpath(copy));
    for (const QString& name : { TlsIdentity::kInstallationKey, TlsIdentity::kInstallationCertificate })
        ASSERT_TRUE(QFile::copy(folder + "/" + name, copy + "/" + name));
    EXPECT_EQ(TlsIdentity::forInstallation(copy).certificate(), first.certificate());

    // A broken key file is replaced by a new identity.
    const QString broken = dir.path() + "/broken";
    ASSERT_TRUE(testsupport::writeFile(broken + "/server.key", "garbage"));
    ASSERT_TRUE(QFile::copy(folder + "/server.crt", broken + "/server.crt"));
    const TlsIdentity remade = TlsIdentity::forInstallation(broken);
    EXPECT_TRUE(remade.isValid());
    EXPECT_NE(remade.certificate(), first.certificate());
    EXPECT_EQ(remade.privateKey().algorithm(), QSsl::Ec);
}

TEST(TlsIdentityTest, AnUnwritableFolderFallsBackToTheBuiltInIdentity)
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/not-a-folder";
    ASSERT_TRUE(testsupport::writeFile(file, "x"));
    const TlsIdentity id = TlsIdentity::forInstallation(file + "/general");
    ASSERT_TRUE(id.isValid());
    EXPECT_EQ(id.certificate(), TlsIdentity::fromResources().certificate());
}

TEST(TlsIdentityTest, TheServerShowsTheInstallationIdentityAndOffersOnlyForwardSecretAeadSuites)
{
    testsupport::TempHome home;
    HttpServerConfig config;
    config.identityFolder = home.savePath();
    HttpServer server(config);
    ASSERT_TRUE(httptest::listenOnFreePort(server));
    const quint16 port = server.serverPort();

    QSslCertificate seen;
    ASSERT_TRUE(handshake(port, QSsl::TlsV1_3, {}, &seen));
    EXPECT_EQ(seen, TlsIdentity::forInstallation(home.savePath()).certificate());

    struct Case {
        QSsl::SslProtocol protocol;
        const char* cipher;
        bool accepted;
    };
    const std::vector<Case> cases {
        { QSsl::TlsV1_2, "ECDHE-ECDSA-AES128-GCM-SHA256", true },
        { QSsl::TlsV1_2, "ECDHE-ECDSA-AES256-GCM-SHA384", true },
        { QSsl::TlsV1_2, "ECDHE-ECDSA-CHACHA20-POLY1305", true },
        { QSsl::TlsV1_2, "ECDHE-ECDSA-AES128-SHA", false }, // CBC
        { QSsl::TlsV1_2, "ECDHE-ECDSA-AES256-SHA384", false }, // CBC
        { QSsl::TlsV1_2, "AES128-GCM-SHA256", false }, // no forward secrecy
        { QSsl::TlsV1_2, "ECDHE-PSK-CHACHA20-POLY1305", false }, // pre-shared key
        { QSsl::TlsV1_1, "", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(handshake(port, c.protocol, c.cipher), c.accepted) << c.cipher;
}

TEST(TlsIdentityTest, SessionsAreResumedOnLaterConnectionsAndRepliesEndWithCloseNotify)
{
    // The server on a thread of its own: the client below blocks.
    testsupport::TempHome home;
    QThread worker;
    worker.start();
    QObject anchor;
    anchor.moveToThread(&worker);
    std::unique_ptr<HttpServer> server;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        &anchor,
        [&] {
            HttpServerConfig config;
            config.identityFolder = home.savePath();
            server = std::make_unique<HttpServer>(config);
            if (httptest::listenOnFreePort(*server))
                port = server->serverPort();
        },
        Qt::BlockingQueuedConnection);
    ASSERT_NE(port, 0);

    struct Case {
        int version;
        bool tickets; // else a TLS 1.2 session is resumed by its id, from the server's cache
        bool keepAlive; // the client, not the server, ends the connection, without close_notify
    };
    const std::vector<Case> cases {
        { TLS1_2_VERSION, true, false },
        { TLS1_2_VERSION, false, false },
        { TLS1_2_VERSION, false, true },
        { TLS1_3_VERSION, true, false },
        { TLS1_3_VERSION, true, true },
    };
    for (const Case& c : cases) {
        const std::string name = (c.version == TLS1_2_VERSION ? "TLS 1.2" : "TLS 1.3")
            + std::string(c.tickets ? " tickets" : " session id") + (c.keepAlive ? " keep-alive" : " close");
        testsupport::RawTlsClient client(c.version, 0, c.tickets);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(client.connect(port)) << name;
            EXPECT_EQ(client.resumed(), i > 0) << name << ", connection " << i;
            ASSERT_TRUE(client.write(c.keepAlive ? "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                                                 : "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
            ASSERT_TRUE(client.readUntil("\r\n\r\n")) << name;
            if (c.keepAlive) {
                client.close(); // a bare close as far as the server is concerned: it sent no close_notify
            } else {
                EXPECT_TRUE(client.endsWithCloseNotify()) << name;
            }
        }
    }

    QMetaObject::invokeMethod(
        &anchor, [&] { server.reset(); }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
}

} // namespace
