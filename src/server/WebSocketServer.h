#pragma once
// WebSocketServer: the secure WebSocket channel on which browsers receive
// every state change.
//
// Owner: function-local static, first made by the controller on the GUI
// thread and then moved to the controller's worker thread. Thread: the
// worker thread; the push slots are invoked by name, queued.
#include <QObject>
#include <QString>

class WebSocketServer : public QObject {
    Q_OBJECT
public:
    static WebSocketServer* instance();

public slots:
    void sendSourceRequest();
    void sendProgramRequest();
    void sendWindowRequest(QString pro_id);
    void sendPresetRequest(QString pro_id);
    void sendGridRequest(QString pro_id, QString win_id);
    void sendControlRequest(QString pro_id, QString win_id);
    void sendLiveRequest(QString pro_id, QString win_id);
    void sendScreenRequest(QString pro_id, QString win_id);
    void sendTallyRequest(QString pro_id);
    // Closes the server and drops every client.
    void onDestroyAll();

private:
    WebSocketServer() = default;
};
