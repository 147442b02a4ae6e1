#pragma once
// Records every signal a Preset emits, in emission order, as "name(args)",
// so a test can check what a window's scene would have been told and when.
#include "JsonPrint.h" // readable failure messages for texts and lists of texts
#include "model/Preset.h"

#include <QObject>
#include <QStringList>

class PresetRecorder {
public:
    explicit PresetRecorder(Preset& preset)
    {
        const auto on = [&](auto signal, auto format) { QObject::connect(&preset, signal, &m_context, format); };
        on(&Preset::layoutChanged, [this](const QString& text) {
            lastLayout = text;
            add("layoutChanged", {});
        });
        on(&Preset::borderChanged, [this](int e, const QString& c) { add("borderChanged", { n(e), c }); });
        on(&Preset::sendTallyOption, [this](int p, const QString& t) { add("sendTallyOption", { n(p), t }); });
        on(&Preset::sendSingleState, [this](int p, const QString& t, bool e) {
            add("sendSingleState", { n(p), t, b(e) });
        });
        on(&Preset::sendStateOption, [this](const QString& t, bool e) { add("sendStateOption", { t, b(e) }); });
        on(&Preset::fontChanged, [this](const QString& c, int s) { add("fontChanged", { c, n(s) }); });
        on(&Preset::audioGainChanged, [this](int g) { add("audioGainChanged", { n(g) }); });
        on(&Preset::positionChanged, [this](int s, bool f) { add("positionChanged", { n(s), b(f) }); });
        on(&Preset::liveChanged, [this](const QString& s) { add("liveChanged", { s }); });
        on(&Preset::sendSource, [this](int p, const QString& s, const QString& name) {
            add("sendSource", { n(p), s, name });
        });
        on(&Preset::deleteAll, [this]() { add("deleteAll", {}); });
        on(&Preset::takeChanged, [this](int t, int ty, float p, const QString& s) {
            add("takeChanged", { n(t), n(ty), QString::number(p), s });
        });
        on(&Preset::audioTypeChanged, [this](int p, const QString& t) { add("audioTypeChanged", { n(p), t }); });
        on(&Preset::numRangeChanged, [this](bool u, int lo, int hi) {
            add("numRangeChanged", { b(u), n(lo), n(hi) });
        });
        on(&Preset::angleChanged, [this](int p, int a) { add("angleChanged", { n(p), n(a) }); });
    }

    QStringList events; // "sendSource(3,CAM,Camera_3)"
    QString lastLayout; // text of the last layoutChanged

private:
    static QString n(int v) { return QString::number(v); }
    static QString b(bool v) { return v ? "true" : "false"; }
    void add(const char* name, const QStringList& args) { events << QString("%1(%2)").arg(name, args.join(',')); }

    QObject m_context; // disconnects everything when the recorder goes
};
