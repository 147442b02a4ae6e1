#pragma once
// ClientRequests: what the WebSocket server asks of the application for the
// messages it sends: the state of programs, windows, presets, sources and
// tallies, and the changes a client asks for. Each fills an empty object the
// caller passes. The application's controller implements it and hands itself
// to the servers when it is made (WebSocketServer::setRequests).
//
// Thread: called on the WebSocket server's thread.

class QJsonObject;
class QString;

class ClientRequests {
public:
    virtual void getProgramRequest(QJsonObject& message) = 0;
    virtual void getWindowRequest(QJsonObject& message, const QString& pro_id) = 0;
    virtual void getPresetRequest(QJsonObject& message, const QString& pro_id) = 0;
    virtual void getGridRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) = 0;
    virtual void getControlRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) = 0;
    virtual void getLiveRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) = 0;
    virtual void getScreenRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) = 0;
    virtual void getSourceGroups(QJsonObject& out) = 0;
    virtual void getTallyStates(const QString& pro_id, QJsonObject& out) = 0;
    virtual void setPtzStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out) = 0;
    virtual void setTakeStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out) = 0;
    virtual void switchSource(const QJsonObject& message, QJsonObject& out) = 0;

protected:
    ~ClientRequests() = default;
};
