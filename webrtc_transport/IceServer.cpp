#include "IceServer.h"

#include "base/Clock.h"

#include <QDebug>

#include <memory>

using RTC::StunPacket;

IceServer::IceServer(const std::string& usernameFragment, const std::string& password)
    : m_usernameFragment(usernameFragment)
    , m_password(password)
{
}

void IceServer::refuse(const StunPacket* request, uint16_t code, const sockaddr_in* source)
{
    ++m_refused;
    const int64_t now = monotonicMs();
    if (m_refusedLog.event(now))
        qDebug() << "ICE: Binding request refused with" << code;
    else
        OnTimer(now);
    std::unique_ptr<StunPacket> response(request->CreateErrorResponse(code));
    const size_t size = response->Serialize(m_output);
    if (m_send)
        m_send(reinterpret_cast<const char*>(m_output), int(size), source);
}

void IceServer::OnTimer(int64_t nowMs)
{
    if (const uint64_t n = m_refusedLog.takeSummary(nowMs))
        qDebug() << "ICE:" << n << "checks refused in the last" << m_refusedLog.intervalSeconds() << "s";
}

bool IceServer::ProcessStunPacket(StunPacket* packet, const sockaddr_in* source)
{
    const bool request = packet->GetClass() == StunPacket::Class::Request;
    if (packet->GetMethod() != uint16_t(StunPacket::Method::Binding)) {
        if (request)
            refuse(packet, 400, source);
        return false;
    }
    // ICE requires FINGERPRINT on every check (RFC 8445 §7.2.2).
    if (!packet->HasFingerprint()) {
        if (request)
            refuse(packet, 400, source);
        return false;
    }
    if (!request)
        return false;
    if (!packet->HasMessageIntegrity() || packet->GetPriority() == 0 || packet->GetUsername().empty()) {
        refuse(packet, 400, source);
        return false;
    }
    if (packet->CheckAuthentication(m_usernameFragment, m_password) != StunPacket::Authentication::OK) {
        refuse(packet, 401, source);
        return false;
    }

    std::unique_ptr<StunPacket> response(packet->CreateSuccessResponse());
    response->SetXorMappedAddress(source);
    response->Authenticate(m_password);
    const size_t size = response->Serialize(m_output);
    if (m_send)
        m_send(reinterpret_cast<const char*>(m_output), int(size), source);
    m_peerTuple = *source;
    if (m_completed)
        m_completed();
    return true;
}
