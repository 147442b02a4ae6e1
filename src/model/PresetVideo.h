#pragma once
// One position (tile) of a layout, held by value in its Preset under the
// position id. Value-initialised: numbers 0, texts empty, flags false.
#include <QMap>
#include <QString>

struct PresetVideo {
    double x = 0; // left edge, percent of the canvas width
    double y = 0; // top edge, percent of the canvas height
    double width = 0; // percent of the canvas width
    double height = 0; // percent of the canvas height
    int number = 0; // position number; the tally number derives from it
    QString type; // "pvw", "pgm" or "" for a position that shows a source
    int z_index = 0; // stacking order
    QString stream_id; // the source shown; "" for none
    QString stream_name; // display name of that source
    float frameRate = 0; // frame rate the shown source reports
    QString aspectRatio; // size of the shown source, "1920x1080"
    QMap<QString, bool> options; // per-position overlay switches
    bool pvw_state = false; // tally: the source is on preview
    bool pgm_state = false; // tally: the source is on program
    int angle = 0; // rotation of the picture
};
