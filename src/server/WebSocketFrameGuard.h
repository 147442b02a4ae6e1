#pragma once
// Follows the frames a WebSocket client sends, from the bytes of its
// connection, so that a frame or message over the size cap is refused from
// its head, before any of its payload is taken.
//
// Owner: the TLS stream of one WebSocket connection (as its input guard).
// Thread: that stream's; it is fed the decrypted input in order, in pieces
// of any size. The first bytes are the HTTP upgrade request, whose end
// ("\r\n\r\n") starts the frames; from then on only frame heads are read:
// the payload is counted, never looked at, and whether a frame is valid is
// left to the WebSocket layer.
#include <QByteArray>
#include <QtGlobal>

class WebSocketFrameGuard {
public:
    explicit WebSocketFrameGuard(quint64 maxBytes)
        : m_maxBytes(maxBytes)
    {
    }

    // Takes the next piece of input; false once a frame head declares a
    // frame, or a data message, over the cap (and for every piece after).
    bool take(const char* data, qint64 size);
    // The payload length the refused head declared (0 before a refusal).
    quint64 refusedLength() const { return m_refusedLength; }

    // The close frame (status 1009, "message too big") a server sends when
    // it refuses: unmasked, as a server's frames are.
    static QByteArray closeTooBigFrame();

private:
    enum class Stage { UpgradeHead, FrameHead, Payload, Refused };
    bool headComplete();

    quint64 m_maxBytes;
    Stage m_stage = Stage::UpgradeHead;
    QByteArray m_head; // the end of the upgrade head, or the frame head so far
    quint64 m_payloadLeft = 0;
    quint64 m_messageBytes = 0; // payload of the data message under way
    quint64 m_refusedLength = 0;
};
