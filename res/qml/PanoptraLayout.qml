// The scene of one output window: one Renderer per layout position, placed
// at the position's rectangle (percent of the window) and stacked by its
// "z_index". The window object ("winObject") announces every change of its
// layout state through its signals; the tiles report the frame rate and size
// of their sources back through its slots.
//
// A position of type "pvw" or "pgm" is a bus tile: it shows the program's
// preview or program picture. In the preview and program windows themselves,
// position 1 is the tile that feeds the bus: it lights its source's tally and
// carries out the take. Tally corners of the other tiles follow their
// source's tally. Nothing covers the whole canvas behind the tiles.
import QtQuick 2.15
import SceneGraphRendering 1.0

Item {
    id: root

    readonly property bool busWindow: windowId === "pvw" || windowId === "pgm"
    // Tiles take a source's low stream; the preview and program windows'
    // own pictures go out full size, so they take the high one.
    readonly property string bandwidth: busWindow ? "high" : "low"
    // Window-wide overlay switches and the border.
    property var windowFlags: ({})
    property bool borderEnable: false
    property string borderColour: "#8c8c8c"
    // Position id -> tile, and what each tile was last told.
    property var tiles: ({})
    property var positionFlags: ({})
    property var tallies: ({})

    Component {
        id: tileComponent
        Renderer {
            property int posId: 0
            // "pvw" or "pgm" for a bus tile, else empty.
            property string busType: ""
            // Emitted on the render thread; the handlers run on the GUI thread.
            onFrameRateChanged: {
                if (busType === "")
                    winObject.onFrameRateChanged(posId, frameRate);
            }
            onResolutionChanged: {
                if (busType === "")
                    winObject.onAspectRatioChanged(posId, xres, yres);
            }
        }
    }

    // Called by the window before its scene and its render thread go: every
    // tile lets go of its source at once.
    function destroyAllObjects() {
        for (var id in tiles) {
            var tile = tiles[id];
            tile.stopLiving();
            tile.visible = false;
            tile.parent = null;
            tile.destroy();
        }
        tiles = {};
        positionFlags = {};
        tallies = {};
    }

    function isBus(tile) {
        return tile.busType === "pvw" || tile.busType === "pgm";
    }

    function flag(flags, key) {
        return flags !== undefined && flags[key] === true;
    }

    function applyOverlays(id) {
        var tile = tiles[id];
        if (!tile)
            return;
        var own = positionFlags[id];
        tile.showCenterCross = flag(windowFlags, "center_cross") || flag(own, "center_cross");
        tile.show16x9Area = flag(windowFlags, "safe_area") || flag(own, "safe_area");
        tile.borderColor = borderColour;
        tile.borderWidth = borderEnable ? 1 : 0;
    }

    function makeTile(p) {
        var id = p.id;
        var left = Number(p.x) || 0, top = Number(p.y) || 0;
        var right = left + (Number(p.width) || 0), bottom = top + (Number(p.height) || 0);
        var tile = tileComponent.createObject(root, {
            "x": Qt.binding(function() { return Math.round(root.width * left / 100); }),
            "y": Qt.binding(function() { return Math.round(root.height * top / 100); }),
            "width": Qt.binding(function() { return Math.round(root.width * right / 100) - Math.round(root.width * left / 100); }),
            "height": Qt.binding(function() { return Math.round(root.height * bottom / 100) - Math.round(root.height * top / 100); }),
            "z": Number(p.z_index) || 0,
            "posId": id,
            "busType": p.type === "pvw" || p.type === "pgm" ? p.type : "",
            "pro_id": proId,
            // Only the bus window's own tile feeds its bus.
            "output": busWindow && id !== 1 ? "" : windowId,
        });
        if (!tile)
            return;
        tile.item_x = Qt.binding(function() { return tile.x; });
        tile.item_y = Qt.binding(function() { return tile.y; });
        tile.winW = Qt.binding(function() { return root.width; });
        tile.winH = Qt.binding(function() { return root.height; });
        tiles[id] = tile;
        applyOverlays(id);
        if (tile.busType !== "") {
            tile.updateTally(tile.busType); // shows the holder's picture and starts
            return;
        }
        tile.startLiving();
        if (p.stream_id)
            tile.changeSource(p.stream_id, root.bandwidth, false);
    }

    function layout(text) {
        var description;
        try {
            description = JSON.parse(text);
        } catch (error) {
            console.warn("layout is not JSON:", error);
            return;
        }
        destroyAllObjects();
        var positions = description.position || [];
        for (var i = 0; i < positions.length; ++i)
            makeTile(positions[i]);
    }

    Connections {
        target: winObject
        function onLayoutChanged(jsonString) { root.layout(jsonString); }
        function onSendSource(pos_id, source, name) {
            var tile = root.tiles[pos_id];
            if (tile && !root.isBus(tile))
                tile.changeSource(source, root.bandwidth, false);
        }
        function onDeleteAll() {
            for (var id in root.tiles) {
                if (!root.isBus(root.tiles[id]))
                    root.tiles[id].changeSource("", root.bandwidth, false);
            }
        }
        function onSendSingleState(pos_id, type, enable) {
            var flags = root.positionFlags[pos_id] || {};
            flags[type] = enable;
            root.positionFlags[pos_id] = flags;
            root.applyOverlays(pos_id);
        }
        function onSendStateOption(type, enable) {
            root.windowFlags[type] = enable;
            for (var id in root.tiles)
                root.applyOverlays(id);
        }
        function onBorderChanged(enable, color) {
            root.borderEnable = enable !== 0;
            root.borderColour = color;
            for (var id in root.tiles)
                root.applyOverlays(id);
        }
        function onAngleChanged(pos_id, angle) {
            var tile = root.tiles[pos_id];
            if (tile)
                tile.setAngle(angle);
        }
        function onTakeChanged(time, type, progress, source) {
            var tile = root.tiles[1];
            if (!root.busWindow || !tile)
                return;
            tile.doTake(time, type, progress, source);
            tile.changeSource(source, root.bandwidth, true);
        }
    }

    // Tally corners: preview green, program red, as the sources report them.
    // The bus windows' own pictures go out as they are, without corners.
    Timer {
        interval: 200
        repeat: true
        running: !root.busWindow
        onTriggered: {
            for (var id in root.tiles) {
                var tile = root.tiles[id];
                if (root.isBus(tile))
                    continue;
                var state = tile.getTallyActive();
                if (root.tallies[id] !== state) {
                    root.tallies[id] = state;
                    tile.changeTallyState(state);
                }
            }
        }
    }
}
