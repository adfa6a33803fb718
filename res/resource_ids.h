#pragma once

// Icons and bitmaps, by the ids the windows use.
enum {
    IDR_MAINFRAME = 128,
    IDI_ARROW_DOWN = 129,
    IDI_ARROW_UP = 130,
    IDB_WIZARD_HEADER = 132,
    IDI_TX_IDLE = 139,
    IDI_RX_IDLE = 140,
    IDI_NOT_CONFIGURED = 141,
    IDI_NETWORK = 146,
    IDI_SERIAL = 147,
    IDI_RX_ACTIVITY = 148,
    IDI_TX_ACTIVITY = 149,
    IDI_RX_ALARM = 151,
    IDI_TX_ALARM = 152,
    IDB_RUN = 154,
    IDB_STOP = 155,
    IDB_RUN_OFF = 156,
    IDB_STOP_OFF = 157,
    IDI_SAVE = 158,
    IDI_CONFIGURED = 159,
};
