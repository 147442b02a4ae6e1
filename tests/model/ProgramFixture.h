#pragma once
// A program as the operations meet it at run time: its mixers, its preview
// and program windows ("pvw", "pgm", one full-canvas position each) and its
// first window "1", all in a temporary home; the program's take flags start
// idle. layout() lays a window out with the given positions.
#include "TestSupport.h"
#include "base/Globals.h"
#include "media/FrameQueue.h"
#include "model/ProjectObject.h"
#include "model/WindowObject.h"
#include "render/PreviewFrame.h"
#include "render/ProgramFrame.h"

#include <QJsonArray>
#include <QJsonObject>

#include <vector>

struct Pos {
    int id;
    int number;
    const char* type; // "", "pvw" or "pgm"
    const char* stream_id;
};

struct ProgramFixture {
    explicit ProgramFixture(const QString& id)
    {
        program.setPath(g_savePath + "/programs/program_" + id);
        program.setParams(id, "Show", 1280, 720, 25.0);
        program.createAudioMixers();
        program.createWindows();
        setTaking(false);
    }

    WindowObject& win(const QString& win_id) const { return *program.getWindow(win_id); }

    void layout(const QString& win_id, const std::vector<Pos>& positions) const
    {
        QJsonArray array;
        for (const Pos& p : positions)
            array.append(
                QJsonObject { { "id", p.id }, { "number", p.number }, { "type", p.type }, { "z_index", p.id - 1 },
                    { "x", 0 }, { "y", 0 }, { "width", 50 }, { "height", 50 }, { "stream_id", p.stream_id } });
        win(win_id).setLayoutJson(program.getProId(), QJsonObject { { "layout_id", "" }, { "position", array } });
    }

    // Numbering on with the given range.
    void number(const QString& win_id, int min, int max) const
    {
        win(win_id).setNumUsed(true);
        win(win_id).setNumRange(min, max, false);
    }

    // Both take flags of the program, as a running transition leaves them.
    void setTaking(bool taking) const
    {
        ProgramFrame::instance()->getFrame(program.getProId())->setTakeState(taking);
        PreviewFrame::instance()->getFrame(program.getProId())->setTakeState(taking);
    }
    bool taking() const
    {
        return ProgramFrame::instance()->getFrame(program.getProId())->getTakeState()
            && PreviewFrame::instance()->getFrame(program.getProId())->getTakeState();
    }

    QString bus(const char* which) const { return win(which).getSource(1); }
    QString from(const char* which) const
    {
        QString id;
        int pos = 0;
        win(which).getFromPosition(id, pos);
        return id + ":" + QString::number(pos);
    }

    testsupport::TempHome home;
    mutable ProjectObject program;
};
