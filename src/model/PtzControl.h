#pragma once
// PtzControl: what a PTZ command needs of the live connection of a source:
// one call per camera movement or setting, each answering whether the camera
// took it. The program model steers cameras only through this interface and
// finds the one behind a source through connectionOf(), so the commands can
// be checked without a camera.
//
// PtzConnection<Connection> adapts any connection class that offers the same
// calls (a source's media connection) to the interface.
//
// Owner: whoever looked it up (std::shared_ptr), for the length of one
// command. Thread: the caller's; the calls are synchronous.
#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

class PtzControl {
public:
    virtual ~PtzControl() = default;

    virtual bool setPtzZoom(float zoom) = 0;
    virtual bool setPtzZoomSpeed(float speed) = 0;
    virtual bool setPtzPanTilt(float pan, float tilt) = 0;
    virtual bool setPtzPanTiltSpeed(float panSpeed, float tiltSpeed) = 0;
    virtual bool setPtzStorePreset(int preset) = 0;
    virtual bool setPtzRecallPreset(int preset, float speed) = 0;
    virtual bool setPtzAutoFocus() = 0;
    virtual bool setPtzFocus(float focus) = 0;
    virtual bool setPtzFocusSpeed(float speed) = 0;
    virtual bool setPtzWhiteBalanceAuto() = 0;
    virtual bool setPtzWhiteBalanceIndoor() = 0;
    virtual bool setPtzWhiteBalanceOutdoor() = 0;
    virtual bool setPtzWhiteBalanceOneshot() = 0;
    virtual bool setPtzWhiteBalanceManual(float red, float blue) = 0;
    virtual bool setPtzExposureAuto() = 0;
    virtual bool setPtzExposureManual(float level) = 0;
    virtual bool isSupportPtz() = 0;

    // Runs one command by its name ("ptz_zoom", ...) with the values of its
    // "data" object. False, with one log line, when a value it needs is
    // missing, the command is unknown or the camera refused it.
    bool apply(const QString& type, const QJsonObject& data);

    // The control of the camera behind a source; null when the source has no
    // live connection. The lookup can be replaced (tests); an empty one puts
    // the default back.
    using Lookup = std::function<std::shared_ptr<PtzControl>(const QString& source)>;
    static std::shared_ptr<PtzControl> connectionOf(const QString& source);
    static void setLookup(Lookup lookup);
};

template <class Connection> class PtzConnection : public PtzControl {
public:
    explicit PtzConnection(std::shared_ptr<Connection> connection)
        : c(std::move(connection))
    {
    }

    bool setPtzZoom(float zoom) override { return c->setPtzZoom(zoom); }
    bool setPtzZoomSpeed(float speed) override { return c->setPtzZoomSpeed(speed); }
    bool setPtzPanTilt(float pan, float tilt) override { return c->setPtzPanTilt(pan, tilt); }
    bool setPtzPanTiltSpeed(float pan, float tilt) override { return c->setPtzPanTiltSpeed(pan, tilt); }
    bool setPtzStorePreset(int preset) override { return c->setPtzStorePreset(preset); }
    bool setPtzRecallPreset(int preset, float speed) override { return c->setPtzRecallPreset(preset, speed); }
    bool setPtzAutoFocus() override { return c->setPtzAutoFocus(); }
    bool setPtzFocus(float focus) override { return c->setPtzFocus(focus); }
    bool setPtzFocusSpeed(float speed) override { return c->setPtzFocusSpeed(speed); }
    bool setPtzWhiteBalanceAuto() override { return c->setPtzWhiteBalanceAuto(); }
    bool setPtzWhiteBalanceIndoor() override { return c->setPtzWhiteBalanceIndoor(); }
    bool setPtzWhiteBalanceOutdoor() override { return c->setPtzWhiteBalanceOutdoor(); }
    bool setPtzWhiteBalanceOneshot() override { return c->setPtzWhiteBalanceOneshot(); }
    bool setPtzWhiteBalanceManual(float red, float blue) override { return c->setPtzWhiteBalanceManual(red, blue); }
    bool setPtzExposureAuto() override { return c->setPtzExposureAuto(); }
    bool setPtzExposureManual(float level) override { return c->setPtzExposureManual(level); }
    bool isSupportPtz() override { return c->isSupportPtz(); }

private:
    std::shared_ptr<Connection> c;
};
