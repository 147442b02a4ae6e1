#include "IceServer.h"

#include <QDebug>

#include <memory>

using RTC::StunPacket;

IceServer::IceServer(const std::string& usernameFragment, const std::string& password)
    : m_usernameFragment(usernameFragment)
    , m_password(password)
{
}

void IceServer::sendError(const StunPacket* request, uint16_t code, const sockaddr_in* source)
{
    std::unique_ptr<StunPacket> response(request->CreateErrorResponse(code));
    const size_t size = response->Serialize(m_output);
    if (m_send)
        m_send(reinterpret_cast<const char*>(m_output), int(size), source);
}

bool IceServer::ProcessStunPacket(StunPacket* packet, const sockaddr_in* source)
{
    const bool request = packet->GetClass() == StunPacket::Class::Request;
    if (packet->GetMethod() != uint16_t(StunPacket::Method::Binding)) {
        if (request)
            sendError(packet, 400, source);
        return false;
    }
    // ICE requires FINGERPRINT on every check (RFC 8445 §7.2.2).
    if (!packet->HasFingerprint()) {
        if (request)
            sendError(packet, 400, source);
        return false;
    }
    if (!request)
        return false;
    if (!packet->HasMessageIntegrity() || packet->GetPriority() == 0 || packet->GetUsername().empty()) {
        sendError(packet, 400, source);
        return false;
    }
    if (packet->CheckAuthentication(m_usernameFragment, m_password) != StunPacket::Authentication::OK) {
        sendError(packet, 401, source);
        qDebug() << "ICE: Binding request refused with 401";
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
