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
//
// Every source tile is a user of its source in both program mixes
// ("audioObject" and "pvwAudioObject"), under the id "<window>:<position>",
// from the moment it gets the source until the source changes or the tile
// goes; the mixers decide by the source's mix type whether it is heard. Over
// a tile the scene draws the position's name and a level meter when they are
// switched on, and dims a tile whose source sends no pictures ("loading"
// after frames stopped, or "failed") with "No signal".
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
    // The label font and the tiles' sound level ("audio_gain").
    property string fontColour: "#ffffff"
    property int fontSize: 18
    property int audioGain: 0
    // Source -> name, as the window and the mixers announce them.
    property var names: ({})
    // Mixer user id ("<window>:<position>") -> the source it uses.
    property var audioUsers: ({})
    // Level meter range in dB of the source's float scale (0 dB is a tone at
    // -20 dBFS in 16-bit terms, +20 dB is 16-bit full scale).
    readonly property real meterFloor: -60
    readonly property real meterTop: 20

    Component {
        id: tileComponent
        Renderer {
            id: tile
            property int posId: 0
            // "pvw" or "pgm" for a bus tile, else empty.
            property string busType: ""
            property string patternName: ""
            property string shownSource: ""
            property bool nameShown: false
            property bool meterShown: false
            property string loadState: ""
            property real level0: root.meterFloor
            property real level1: root.meterFloor
            readonly property bool noSignal: loadState === "loading" || loadState === "failed"
            // A handler's "state" would be the item's own property.
            Connections {
                target: tile
                function onNotifyLoading(newState, progress) { tile.loadState = newState; }
            }
            // The tile emits these on the GUI thread, after the pass that saw the change.
            onFrameRateChanged: {
                if (busType === "")
                    winObject.onFrameRateChanged(posId, frameRate);
            }
            onResolutionChanged: {
                if (busType === "")
                    winObject.onAspectRatioChanged(posId, xres, yres);
            }

            // The last picture stays under a dark veil; the bus windows'
            // own pictures go out as they are.
            Rectangle {
                anchors.fill: parent
                visible: tile.noSignal && !root.busWindow
                color: "#b0000000"
                Text {
                    anchors.centerIn: parent
                    text: qsTr("No signal")
                    color: "#ffffff"
                    font.pixelSize: Math.max(10, Math.min(root.fontSize, parent.height / 4))
                }
            }
            // The name at the bottom centre, on a dark band.
            Rectangle {
                visible: tile.nameShown && tile.patternName !== ""
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.bottom: parent.bottom
                anchors.bottomMargin: Math.round(parent.height * 0.04)
                width: Math.min(parent.width, label.implicitWidth + 8)
                height: label.implicitHeight + 4
                color: "#80000000"
                Text {
                    id: label
                    anchors.centerIn: parent
                    text: tile.patternName
                    color: root.fontColour
                    font.pixelSize: root.fontSize
                }
            }
            // Two bars (left and right channel) at the right edge, filled
            // from the bottom with the level.
            Row {
                visible: tile.meterShown
                anchors.right: parent.right
                anchors.rightMargin: 4
                anchors.verticalCenter: parent.verticalCenter
                height: Math.round(parent.height * 0.8)
                spacing: 2
                Repeater {
                    model: 2
                    Rectangle {
                        width: 6
                        height: parent.height
                        color: "#80000000"
                        Rectangle {
                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: Math.round(parent.height * root.meterFraction(index === 0 ? tile.level0 : tile.level1))
                            // Not quite opaque: an opaque item would be
                            // drawn before the tile's picture and hidden by it.
                            color: "#f000e000"
                        }
                    }
                }
            }
        }
    }

    function meterFraction(level) {
        return Math.max(0, Math.min(1, (level - meterFloor) / (meterTop - meterFloor)));
    }

    // Both program mixes, where the window gave them.
    function mixers() {
        var list = [];
        if (typeof audioObject !== "undefined" && audioObject)
            list.push(audioObject);
        if (typeof pvwAudioObject !== "undefined" && pvwAudioObject)
            list.push(pvwAudioObject);
        return list;
    }

    // The tile at posId now uses source ("" for none): the new use is added
    // before the old one goes, so a source that stays is never dropped.
    function useSource(posId, source) {
        var id = windowId + ":" + posId;
        var old = audioUsers[id] || "";
        if (old === source)
            return;
        var list = mixers();
        for (var i = 0; i < list.length; ++i) {
            if (source !== "")
                list[i].addAudioSource(id, source);
            if (old !== "")
                list[i].removeAudioSource(id, old);
        }
        if (source === "")
            delete audioUsers[id];
        else
            audioUsers[id] = source;
    }

    // The uses of the positions that are gone.
    function dropUsesBut(kept) {
        for (var id in audioUsers) {
            var pos = id.substring(id.lastIndexOf(":") + 1);
            if (!kept[pos])
                useSource(pos, "");
        }
    }

    function showSource(tile, source, name) {
        if (name)
            names[source] = name;
        tile.shownSource = source;
        tile.patternName = source === "" ? "" : (names[source] || source);
        useSource(tile.posId, source);
        tile.changeSource(source, root.bandwidth, false);
        updateTimers();
    }

    // Called by the window before its scene and its render thread go: every
    // tile lets go of its source at once.
    function destroyAllObjects() {
        dropUsesBut({});
        removeTiles();
    }

    function removeTiles() {
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
        updateTimers();
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
        tile.nameShown = flag(windowFlags, "name_enable") || flag(own, "name_enable");
        tile.meterShown = !isBus(tile) && (flag(windowFlags, "vu_meter") || flag(own, "vu_meter"));
        if (!isBus(tile))
            tile.enableAudio(own === undefined || own["audio_enable"] !== false);
        updateTimers();
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
            tile.patternName = tile.busType.toUpperCase();
            tile.updateTally(tile.busType); // shows the holder's picture and starts
            return;
        }
        tile.setAudioLevel(audioGain);
        tile.startLiving();
        if (p.stream_id)
            showSource(tile, p.stream_id, "");
    }

    function layout(text) {
        var description;
        try {
            description = JSON.parse(text);
        } catch (error) {
            console.warn("layout is not JSON:", error);
            return;
        }
        removeTiles();
        var positions = description.position || [];
        var kept = {};
        for (var i = 0; i < positions.length; ++i) {
            makeTile(positions[i]);
            var tile = tiles[positions[i].id];
            if (tile && !isBus(tile) && positions[i].stream_id)
                kept[positions[i].id] = true;
        }
        dropUsesBut(kept);
    }

    // A source got another name: every tile showing it follows.
    function renameSource(source, name) {
        names[source] = name;
        for (var id in tiles) {
            var tile = tiles[id];
            if (!isBus(tile) && tile.shownSource === source)
                tile.patternName = name;
        }
    }

    Connections {
        target: winObject
        function onLayoutChanged(jsonString) { root.layout(jsonString); }
        function onSendSource(pos_id, source, name) {
            var tile = root.tiles[pos_id];
            if (tile && !root.isBus(tile))
                root.showSource(tile, source, name);
        }
        function onDeleteAll() {
            for (var id in root.tiles) {
                if (!root.isBus(root.tiles[id]))
                    root.showSource(root.tiles[id], "", "");
            }
        }
        function onFontChanged(color, size) {
            root.fontColour = color;
            root.fontSize = size > 0 ? size : 18;
        }
        function onAudioGainChanged(audioGain) {
            root.audioGain = audioGain;
            for (var id in root.tiles) {
                if (!root.isBus(root.tiles[id]))
                    root.tiles[id].setAudioLevel(audioGain);
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
            tile.shownSource = source;
            tile.patternName = root.names[source] || source;
            root.useSource(tile.posId, source);
            tile.changeSource(source, root.bandwidth, true);
        }
    }

    // The program model renames a source through one of the mixers.
    Connections {
        target: typeof audioObject !== "undefined" ? audioObject : null
        function onSourceNameChanged(source, name) { root.renameSource(source, name); }
    }
    Connections {
        target: typeof pvwAudioObject !== "undefined" ? pvwAudioObject : null
        function onSourceNameChanged(source, name) { root.renameSource(source, name); }
    }

    // A source gone from the table leaves its tiles on a dead connection:
    // they let it go and look the source up again on every pass, so they
    // find it when it comes back.
    Connections {
        target: typeof sourceManager !== "undefined" ? sourceManager : null
        function onSourceUpdated(type, srcName, address, web_url, talk_url, support_ptz, support_kvm, pvw, pgm) {
            if (type !== "none")
                return;
            for (var id in root.tiles) {
                var tile = root.tiles[id];
                if (!root.isBus(tile) && tile.shownSource === srcName)
                    tile.destroyConnection();
            }
        }
    }

    // The timers run only while they have something to look at, so that a
    // window without meters or sources does not wake the GUI thread.
    function updateTimers() {
        var meters = false, sources = false, lit = false;
        for (var id in tiles) {
            var tile = tiles[id];
            meters = meters || tile.meterShown;
            sources = sources || (!isBus(tile) && tile.shownSource !== "");
            lit = lit || (tallies[id] !== undefined && tallies[id] !== 0);
        }
        meterTimer.running = meters;
        // A corner that is lit is put out by one more look after its source went.
        tallyTimer.running = !busWindow && (sources || lit);
    }

    // Level meters of the tiles that show one.
    Timer {
        id: meterTimer
        interval: 100
        repeat: true
        running: false
        onTriggered: {
            for (var id in root.tiles) {
                var tile = root.tiles[id];
                if (!tile.meterShown)
                    continue;
                tile.level0 = tile.getVolume(0);
                tile.level1 = tile.getVolume(1);
            }
        }
    }

    // Tally corners: preview green, program red, as the sources report them.
    // The bus windows' own pictures go out as they are, without corners.
    Timer {
        id: tallyTimer
        interval: 200
        repeat: true
        running: false
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
            root.updateTimers();
        }
    }
}
