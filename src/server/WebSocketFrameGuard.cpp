#include "WebSocketFrameGuard.h"

#include <QtEndian>

namespace {

// RFC 6455 section 5.2: two bytes, then 2 or 8 bytes of extended length,
// then the 4-byte masking key when the mask bit is set.
constexpr int kMinHead = 2;

int headSize(quint8 second)
{
    const int length = second & 0x7f;
    const int extended = length == 126 ? 2 : length == 127 ? 8 : 0;
    return kMinHead + extended + ((second & 0x80) ? 4 : 0);
}

} // namespace

QByteArray WebSocketFrameGuard::closeTooBigFrame()
{
    // FIN and opcode 8 (close), 2 payload bytes: status 1009 (RFC 6455 section 7.4.1).
    return QByteArray::fromHex("880203f1");
}

bool WebSocketFrameGuard::take(const char* data, qint64 size)
{
    qint64 at = 0;
    while (at < size) {
        switch (m_stage) {
        case Stage::Refused:
            return false;
        case Stage::UpgradeHead: {
            // Only the last three bytes are kept between pieces: enough to
            // find an end split across them.
            const qint64 step = qMin<qint64>(size - at, 4096);
            m_head.append(data + at, int(step));
            at += step;
            const int end = m_head.indexOf("\r\n\r\n");
            if (end >= 0) {
                const int rest = m_head.size() - (end + 4);
                at -= rest; // the frames start right after the head
                m_head.clear();
                m_stage = Stage::FrameHead;
            } else {
                m_head = m_head.right(3);
            }
            break;
        }
        case Stage::FrameHead:
            m_head.append(data[at++]);
            if (m_head.size() >= kMinHead && m_head.size() == headSize(quint8(m_head[1])) && !headComplete()) {
                m_stage = Stage::Refused;
                return false;
            }
            break;
        case Stage::Payload: {
            const quint64 step = qMin<quint64>(m_payloadLeft, quint64(size - at));
            m_payloadLeft -= step;
            at += qint64(step);
            if (m_payloadLeft == 0)
                m_stage = Stage::FrameHead;
            break;
        }
        }
    }
    return m_stage != Stage::Refused;
}

bool WebSocketFrameGuard::headComplete()
{
    const auto* head = reinterpret_cast<const uchar*>(m_head.constData());
    const quint8 opcode = head[0] & 0x0f;
    const bool fin = (head[0] & 0x80) != 0;
    quint64 length = head[1] & 0x7f;
    if (length == 126)
        length = qFromBigEndian<quint16>(head + 2);
    else if (length == 127)
        length = qFromBigEndian<quint64>(head + 2);
    m_head.clear();

    // Control frames (opcode 8 and up) may come between the frames of a
    // message and do not count towards it.
    const bool control = opcode >= 8;
    const quint64 message = control ? length : (opcode == 0 ? m_messageBytes : 0) + length;
    if (length > m_maxBytes || message > m_maxBytes) {
        m_refusedLength = length;
        return false;
    }
    if (!control)
        m_messageBytes = fin ? 0 : message;
    m_payloadLeft = length;
    m_stage = length > 0 ? Stage::Payload : Stage::FrameHead;
    return true;
}
