#pragma once
// Operation selectors of the control API. Each route passes one fixed value to
// its controller handler; the values are part of the route table and of the
// queued calls, so they never change. PROGRAMTYPE, WINDOWTYPE, GRIDTYPE and
// PRESETTYPE also travel as arguments of calls queued by method name, so they
// are registered with the meta-type system under exactly these names (see the
// BaseConfig constructor).
#include <QMetaType>

enum PROGRAMTYPE : int {
    PROGRAM_ADD = 0,
    PROGRAM_REMOVE = 1,
    PROGRAM_SET_PARAM = 2,
    PROGRAM_GET_PARAM = 3,
    PROGRAM_RENAME = 4,
    PROGRAM_SET_STATUS = 5,
    PROGRAM_SWITCH = 6,
};

enum WINDOWTYPE : int {
    WINDOW_ADD = 0,
    WINDOW_REMOVE = 1,
    WINDOW_SET_PARAM = 2,
    WINDOW_SWITCH = 3,
    WINDOW_GET_PARAM = 4,
    WINDOW_LIST = 5,
};

// Per-window operations. 0, 20 and 24 have no route; 23 has none either: the
// source operations queue it when the preview and program windows changed
// together.
enum GRIDTYPE : int {
    GRID_NONE = 0,
    GRID_SET_POSITION = 1,
    GRID_GET_POSITION = 2,
    GRID_GET_OUTPUT_TYPE = 3,
    GRID_SET_OUTPUT_TYPE = 4,
    GRID_GET_NDI_PARAM = 5,
    GRID_SET_NDI_PARAM = 6,
    GRID_GET_STATE_CONTROL = 7,
    GRID_SET_STATE_CONTROL = 8,
    GRID_SET_LAYOUT = 9,
    GRID_RELOAD_LAYOUT = 10,
    GRID_MODIFY_LAYOUT = 11,
    GRID_SAVE_LAYOUT = 12,
    GRID_RESAVE_LAYOUT = 13,
    GRID_DELETE_SOURCES = 14,
    GRID_REMOVE_SOURCE = 15,
    GRID_SET_SOURCE = 16,
    GRID_GET_SINGLE_LAYOUT = 17,
    GRID_SET_SINGLE_LAYOUT = 18,
    GRID_SET_AUDIO_TYPE = 19,
    GRID_UNUSED_20 = 20,
    GRID_SET_NUM_RANGE = 21,
    GRID_GET_NUM_RANGE = 22,
    GRID_BUS_WINDOWS = 23,
    GRID_UNUSED_24 = 24,
    GRID_PVW_STREAM_GET = 25,
    GRID_PGM_STREAM_GET = 26,
    GRID_PTZ_SET = 27,
};

enum PRESETTYPE : int {
    PRESET_LIST = 0,
    PRESET_ADD = 1,
    PRESET_REMOVE = 2,
    PRESET_RENAME = 3,
};

enum SOURCETYPE : int {
    SOURCE_ADD = 0,
    SOURCE_MODIFY = 1,
    SOURCE_REMOVE = 2,
    SOURCE_GET_PARAM = 3,
    SOURCE_WEB_SITE = 4,
};

enum TAKETYPE : int {
    TAKE_SET = 0,
    TAKE_SET_PARAMS = 1,
    TAKE_GET = 2,
};

enum USERTYPE : int {
    USER_LOGIN = 0,
    USER_LOGOUT = 1,
    USER_LIST = 2,
    USER_ADD = 3,
    USER_MODIFY = 4,
    USER_REMOVE = 5,
    USER_INFO = 6,
    USER_SESSION = 7,
};

Q_DECLARE_METATYPE(PROGRAMTYPE)
Q_DECLARE_METATYPE(WINDOWTYPE)
Q_DECLARE_METATYPE(GRIDTYPE)
Q_DECLARE_METATYPE(PRESETTYPE)
