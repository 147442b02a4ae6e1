// Fuzz target of the WebRTC transport's network input: every input is one
// datagram, given to the STUN parser with the ICE-lite checks and answers,
// and to a session's demultiplexer (STUN, DTLS from the checked peer, RTP,
// RTCP). Built with libFuzzer by scripts/fuzz.sh; the seed corpus is
// replayed by a unit test on every run.
#include "webrtc_transport/EventLoop.h"
#include "webrtc_transport/IceServer.h"
#include "webrtc_transport/StunPacket.h"
#include "webrtc_transport/WebRtcTransport.h"

#include <QtGlobal>

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

sockaddr_in fuzzPeer()
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(50000);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A session whose socket is never bound (its answers go nowhere) and whose
// peer has passed one authenticated check, so DTLS input is taken.
struct FuzzSession {
    EventLoop loop;
    std::unique_ptr<WebRtcTransport> transport;

    void renew()
    {
        transport = std::make_unique<WebRtcTransport>(&loop, 0);
        uint8_t tid[12] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 };
        RTC::StunPacket check(RTC::StunPacket::Class::Request, 1, tid, nullptr, 0);
        check.SetUsername(transport->GetUfrag() + ":fuzz");
        check.SetPriority(1);
        check.Authenticate(transport->GetPwd());
        std::vector<uint8_t> bytes(256);
        bytes.resize(check.Serialize(bytes.data()));
        sockaddr_in peer = fuzzPeer();
        transport->onInputDataPacket(reinterpret_cast<char*>(bytes.data()), int(bytes.size()), &peer);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The parser with the RFC 5769 credentials, and the responder's answer.
    if (std::unique_ptr<RTC::StunPacket> packet { RTC::StunPacket::Parse(data, size) }) {
        packet->CheckAuthentication("evtj", "VOkJxbRl1RmTxUk/WvJxBt");
        static IceServer ice("evtj", "VOkJxbRl1RmTxUk/WvJxBt");
        sockaddr_in from = fuzzPeer();
        ice.ProcessStunPacket(packet.get(), &from);
    }

    // The demultiplexer works on the socket's own writable buffer.
    static FuzzSession session;
    if (!session.transport || session.transport->IsClosed())
        session.renew();
    std::vector<char> datagram(data, data + size);
    sockaddr_in from = fuzzPeer();
    session.transport->onInputDataPacket(datagram.data(), int(datagram.size()), &from);
    return 0;
}
