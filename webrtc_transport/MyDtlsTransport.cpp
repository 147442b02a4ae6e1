#include "MyDtlsTransport.h"

#include "DtlsSocketContext.h"

MyDtlsTransport::MyDtlsTransport(bool server)
    : dtlsContext(std::make_shared<dtls::DtlsSocketContext>())
    , isServer(server)
{
    if (isServer)
        dtlsContext->createServer();
    else
        dtlsContext->createClient();
    dtlsContext->setDtlsReceiver(this);
}

MyDtlsTransport::~MyDtlsTransport()
{
    handshakeCompletedCallback = nullptr;
    handshakeFailedCallback = nullptr;
    dtlsOutputCallback = nullptr;
    dtlsContext->setDtlsReceiver(nullptr);
    dtlsContext.reset();
}

void MyDtlsTransport::Start()
{
    if (!isServer)
        dtlsContext->start();
}

void MyDtlsTransport::Close()
{
    dtlsContext->shutdown();
}

bool MyDtlsTransport::InputData(const char* data, int length)
{
    if (length < 1)
        return false;
    return dtlsContext->read(reinterpret_cast<const unsigned char*>(data), unsigned(length));
}

void MyDtlsTransport::OnTimer()
{
    dtlsContext->handleTimeout();
}

bool MyDtlsTransport::isDtlsPacket(const char* data, int length)
{
    return length > 0
        && dtls::DtlsSocketContext::demuxPacket(reinterpret_cast<const unsigned char*>(data), unsigned(length))
        == dtls::DtlsSocketContext::dtls;
}

std::string MyDtlsTransport::GetFingerprint() const
{
    return dtlsContext->getFingerprint();
}

void MyDtlsTransport::onDtlsPacket(dtls::DtlsSocketContext*, const unsigned char* data, unsigned int length)
{
    if (dtlsOutputCallback)
        dtlsOutputCallback(reinterpret_cast<const char*>(data), int(length));
}

void MyDtlsTransport::onHandshakeCompleted(dtls::DtlsSocketContext*, std::string clientKey, std::string serverKey)
{
    // RFC 5764 §4.2: each side protects with its own write key.
    if (!handshakeCompletedCallback)
        return;
    if (isServer)
        handshakeCompletedCallback(serverKey, clientKey);
    else
        handshakeCompletedCallback(clientKey, serverKey);
}

void MyDtlsTransport::onHandshakeFailed(dtls::DtlsSocketContext*, const std::string& error)
{
    if (handshakeFailedCallback)
        handshakeFailedCallback(error);
}
