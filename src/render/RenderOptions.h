#pragma once
// What a tile draws over its picture: the border, the centre cross, the
// safe-area frame (with the dimmed outer tenth) and the tally corners.
#include <QColor>

struct RenderOptions {
    bool borderShown = false;
    bool show16x9Area = false;
    bool showCenterCross = false;
    QColor borderColor = QColor(QStringLiteral("#8c8c8c"));
    int borderWidth = 1;
    // 0 none, 1 preview (green corners), 2 or more program (red corners).
    int tallyState = 0;

    bool operator==(const RenderOptions& o) const
    {
        return borderShown == o.borderShown && show16x9Area == o.show16x9Area && showCenterCross == o.showCenterCross
            && borderColor == o.borderColor && borderWidth == o.borderWidth && tallyState == o.tallyState;
    }
    bool operator!=(const RenderOptions& o) const { return !(*this == o); }
};
