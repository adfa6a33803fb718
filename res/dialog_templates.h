#pragma once

// The windows' layouts as data: each control with its id, kind, rectangle in dialog units, text,
// style and initial state. The builder in ui/ turns them into widgets.

#include "res/resource_ids.h"

enum EControlKind {
    CTRL_PUSHBUTTON,
    CTRL_CHECKBOX,
    CTRL_RADIO,
    CTRL_GROUPBOX,
    CTRL_STATIC,
    CTRL_ICON,
    CTRL_EDIT,
    CTRL_DROPLIST,
    CTRL_LISTBOX,
    CTRL_TAB,
    CTRL_PROGRESS,
    CTRL_STATUSLINE,
    CTRL_HOSTED, // the serial-port control: no widget of its own
};

enum EControlFlag : unsigned {
    CF_HIDDEN = 1u << 0,
    CF_DISABLED = 1u << 1,
    CF_HSCROLL = 1u << 2,
    CF_SORTED = 1u << 3,
    CF_PUSHLIKE = 1u << 4,
    CF_FLAT = 1u << 5,
    CF_LEFTTEXT = 1u << 6,
    CF_READONLY = 1u << 7,
    CF_RIGHT = 1u << 8,
    CF_SUNKEN = 1u << 9,
    CF_IMAGE = 1u << 10, // a button that shows an image instead of its text
};

constexpr int IDC_NONE = -1;

struct SControlTemplate {
    int nId;
    EControlKind kind;
    int x, y, cx, cy;
    const char* pszText;
    unsigned nFlags;
    int nImageId;         // icon or bitmap shown, 0 for none
    const char* pszItems; // drop-down items, separated by '\n'
};

struct SDialogTemplate {
    int nId;
    const char* pszCaption; // nullptr: no caption (child pages, the finishing dialog)
    int cx, cy;
    const char* pszFont;
    int nPointSize;
    const SControlTemplate* pControls;
    int nControlCount;
};

enum {
    IDD_ABOUTBOX = 100,
    IDD_MAIN = 102,
    IDD_SEND_ORDER = 104,
    IDD_SETUP_WIZARD = 130,
    IDD_POS_SETTINGS = 131,
    IDD_COMM_SETTINGS = 132,
    IDD_SUMMARY = 133,
    IDD_WELCOME = 134,
    IDD_FINISH_ORDER = 153,
};

// The template of a dialog id, or nullptr.
const SDialogTemplate* FindDialogTemplate(int id);
