#include "res/dialog_templates.h"

#include "app/app_settings.h"
#include "res/resource_ids.h"

#include <iterator>

namespace {

constexpr SControlTemplate C(int id, EControlKind kind, int x, int y, int cx, int cy, const char* text,
                             unsigned flags = 0, int image = 0, const char* items = nullptr) {
    return {id, kind, x, y, cx, cy, text, flags, image, items};
}

const SControlTemplate ABOUT[] = {
    C(IDC_NONE, CTRL_ICON, 11, 17, 20, 20, "", 0, IDR_MAINFRAME),
    C(IDC_NONE, CTRL_STATIC, 40, 10, 119, 8, "POS Emulator, v1.2 (BETA)"),
    C(IDC_NONE, CTRL_STATIC, 40, 25, 170, 26,
      "Plays scripted order data to an OCS byte for byte, as a point-of-sale terminal would."),
    C(IDC_OK, CTRL_PUSHBUTTON, 161, 7, 50, 14, "OK"),
};

const SControlTemplate MAIN[] = {
    C(IDC_MAIN_DETAILS, CTRL_PUSHBUTTON, 225, 143, 17, 13, "", CF_FLAT | CF_IMAGE, IDI_ARROW_DOWN),
    C(IDC_MAIN_RX_LAMP, CTRL_ICON, 199, 0, 20, 20, "", 0, IDI_RX_IDLE),
    C(IDC_MAIN_TX_LAMP, CTRL_ICON, 221, 0, 20, 20, "", 0, IDI_TX_IDLE),
    C(IDC_MAIN_SAVE, CTRL_PUSHBUTTON, 225, 252, 17, 13, "Save", CF_FLAT | CF_IMAGE, IDI_SAVE),
    C(IDC_MAIN_TABS, CTRL_TAB, 0, 0, 245, 158, ""),
    C(IDC_MAIN_DETAILS_HINT, CTRL_STATIC, 112, 146, 111, 8, "To see details, click the arrow...", CF_RIGHT),
    C(IDC_MAIN_HOST, CTRL_HOSTED, 4, 118, 56, 32, "", CF_HIDDEN),
    C(IDC_MAIN_RX_LIST, CTRL_LISTBOX, 2, 267, 241, 64, ""),
    C(IDC_MAIN_TX_LIST, CTRL_LISTBOX, 2, 186, 241, 64, "", CF_HSCROLL),
    C(IDC_NONE, CTRL_STATIC, 4, 176, 93, 8, "[Tx] Data transmitted to OCS:"),
    C(IDC_NONE, CTRL_STATIC, 3, 257, 94, 8, "[Rx] Data received from OCS:"),
    C(IDC_MAIN_SHOW_WIZARD, CTRL_CHECKBOX, 87, 161, 156, 10, "Show POS Emulator Setup Wizard at startup",
      CF_LEFTTEXT),
};

const SControlTemplate SEND_ORDER[] = {
    C(IDC_ORDER_INTRO, CTRL_STATIC, 7, 7, 230, 20,
      "Click the Run button to send order data to the OCS.  Click the Stop button to finish sending the "
      "current order and close the connection."),
    C(IDC_ORDER_RUN, CTRL_PUSHBUTTON, 7, 37, 64, 59, "Run", CF_IMAGE, IDB_RUN),
    C(IDC_ORDER_STOP, CTRL_PUSHBUTTON, 69, 37, 64, 59, "Stop", CF_IMAGE, IDB_STOP_OFF),
    C(IDC_NONE, CTRL_STATIC, 149, 43, 48, 8, "POS Interface:"),
    C(IDC_ORDER_POS_NAME, CTRL_EDIT, 157, 52, 70, 12, "", CF_READONLY),
    C(IDC_NONE, CTRL_GROUPBOX, 140, 33, 93, 62, "Settings Summary"),
    C(IDC_ORDER_LINK_ICON, CTRL_ICON, 146, 71, 20, 20, "", CF_SUNKEN),
    C(IDC_ORDER_LINK_KIND, CTRL_STATIC, 170, 72, 54, 8, "None Selected"),
    C(IDC_ORDER_LINK_DETAIL, CTRL_STATIC, 170, 82, 54, 8, "None Selected"),
    C(IDC_ORDER_SELECTED, CTRL_STATIC, 68, 25, 75, 8, "None Selected"),
    C(IDC_ORDER_STATUS, CTRL_STATUSLINE, 7, 100, 226, 12, "", CF_READONLY | CF_DISABLED),
};

const SControlTemplate FINISH_ORDER[] = {
    C(IDC_NONE, CTRL_STATIC, 24, 23, 143, 8, "Please wait while the order is being finished..."),
    C(IDC_FINISH_PROGRESS, CTRL_PROGRESS, 24, 40, 136, 14, ""),
};

const SControlTemplate SETUP_WIZARD[] = {
    C(IDC_WIZARD_PREV, CTRL_PUSHBUTTON, 120, 175, 42, 14, "< Prev", CF_DISABLED),
    C(IDC_WIZARD_NEXT, CTRL_PUSHBUTTON, 162, 175, 42, 14, "Next >"),
    C(IDC_WIZARD_SKIP, CTRL_PUSHBUTTON, 210, 175, 42, 14, "Skip"),
    C(IDC_WIZARD_SHOW, CTRL_CHECKBOX, 5, 177, 106, 10, "Show this window on startup"),
};

const SControlTemplate POS_SETTINGS[] = {
    C(IDC_NONE, CTRL_STATIC, 7, 7, 215, 8,
      "Select the Point Of Sale (POS) device to emulate from the list below."),
    C(IDC_NONE, CTRL_STATIC, 7, 21, 226, 17,
      "If you are not sure which POS to use, contact Veltrin technical support staff for help."),
    C(IDC_NONE, CTRL_STATIC, 25, 55, 18, 8, "POS:"),
    C(IDC_POS_LIST, CTRL_DROPLIST, 49, 53, 116, 92, "", CF_SORTED),
    C(IDC_POS_REFRESH, CTRL_PUSHBUTTON, 183, 53, 32, 12, "Refresh", CF_HIDDEN | CF_DISABLED),
    C(IDC_POS_INCLUDE_ETX, CTRL_CHECKBOX, 97, 81, 55, 10, "Inlcude ETX", CF_HIDDEN | CF_DISABLED),
    C(IDC_POS_CHECKSUM, CTRL_CHECKBOX, 97, 94, 81, 10, "Calculate Checksum", CF_HIDDEN | CF_DISABLED),
    C(IDC_POS_APPLY, CTRL_PUSHBUTTON, 8, 96, 50, 14, "Apply", CF_HIDDEN | CF_DISABLED),
};

const char COM_ITEMS[] =
    "COM1\nCOM2\nCOM3\nCOM4\nCOM5\nCOM6\nCOM7\nCOM8\nCOM9\nCOM10\nCOM11\nCOM12\nCOM13\nCOM14";

const SControlTemplate COMM_SETTINGS[] = {
    C(IDC_NONE, CTRL_STATIC, 7, 6, 220, 8,
      "Select the communication type to use when connecting to the OCS."),
    C(IDC_COMM_SERIAL, CTRL_RADIO, 7, 20, 33, 10, "Serial"),
    C(IDC_NONE, CTRL_ICON, 21, 30, 20, 20, "", 0, IDI_SERIAL),
    C(IDC_COMM_EXPAND, CTRL_CHECKBOX, 41, 20, 14, 9, ">>", CF_PUSHLIKE | CF_FLAT),
    C(IDC_COMM_SERIAL_NOTE, CTRL_STATIC, 62, 20, 171, 63,
      "Baud rate and other settings for the serial connection are auto-detected by default.  To view or "
      "choose specific values, click the Expand [>>] button."),
    C(IDC_COMM_SERIAL_GROUP, CTRL_GROUPBOX, 61, 16, 171, 72, "Serial Settings", CF_HIDDEN),
    C(IDC_COMM_AUTODETECT, CTRL_CHECKBOX, 67, 24, 101, 12, "Auto-detect serial settings", CF_HIDDEN),
    C(IDC_COMM_DETECT_NOW, CTRL_PUSHBUTTON, 178, 24, 48, 12, "Detect Now", CF_HIDDEN),
    C(IDC_COMM_PORT_LABEL, CTRL_STATIC, 71, 39, 32, 12, "COM port:", CF_RIGHT | CF_HIDDEN),
    C(IDC_COMM_PORT, CTRL_DROPLIST, 106, 39, 40, 106, "", CF_HIDDEN, 0, COM_ITEMS),
    C(IDC_COMM_BAUD_LABEL, CTRL_STATIC, 71, 55, 32, 12, "Baud rate:", CF_RIGHT | CF_HIDDEN),
    C(IDC_COMM_BAUD, CTRL_DROPLIST, 106, 55, 40, 90, "", CF_HIDDEN, 0, SERIAL_BAUD_ITEMS),
    C(IDC_COMM_PARITY_LABEL, CTRL_STATIC, 71, 71, 32, 12, "Parity:", CF_RIGHT | CF_HIDDEN),
    C(IDC_COMM_PARITY, CTRL_DROPLIST, 106, 71, 40, 74, "", CF_HIDDEN, 0, SERIAL_PARITY_ITEMS),
    C(IDC_COMM_DATA_BITS_LABEL, CTRL_STATIC, 151, 39, 32, 12, "Data bits:", CF_RIGHT | CF_HIDDEN),
    C(IDC_COMM_DATA_BITS, CTRL_DROPLIST, 186, 39, 40, 106, "", CF_HIDDEN, 0, SERIAL_DATABITS_ITEMS),
    C(IDC_COMM_STOP_BITS_LABEL, CTRL_STATIC, 151, 55, 32, 12, "Stop bits:", CF_RIGHT | CF_HIDDEN),
    C(IDC_COMM_STOP_BITS, CTRL_DROPLIST, 186, 55, 40, 90, "", CF_HIDDEN, 0, SERIAL_STOPBITS_ITEMS),
    C(IDC_COMM_FLOW_LABEL, CTRL_STATIC, 151, 71, 32, 12, "Flow ctrl:", CF_RIGHT | CF_HIDDEN),
    C(IDC_COMM_FLOW, CTRL_DROPLIST, 186, 71, 40, 74, "", CF_HIDDEN, 0, SERIAL_FLOW_ITEMS),
    C(IDC_COMM_APPLY, CTRL_PUSHBUTTON, 7, 62, 50, 14, "Apply", CF_HIDDEN | CF_DISABLED),
    C(IDC_COMM_NETWORK, CTRL_RADIO, 7, 89, 43, 10, "Network"),
    C(IDC_NONE, CTRL_GROUPBOX, 61, 89, 172, 32, "Network Settings"),
    C(IDC_NONE, CTRL_ICON, 21, 100, 20, 20, "", 0, IDI_NETWORK),
    C(IDC_NONE, CTRL_STATIC, 68, 102, 53, 12, "OCS IP address:"),
    C(IDC_COMM_IP_ADDRESS, CTRL_EDIT, 126, 102, 100, 12, ""),
};

const SControlTemplate SUMMARY[] = {
    C(IDC_NONE, CTRL_STATIC, 7, 7, 120, 8, "POS Emulator Setup Wizard Summary"),
    C(IDC_NONE, CTRL_STATIC, 7, 20, 222, 14,
      "You have chosen to start the POS Emulator with the following settings."),
    C(IDC_NONE, CTRL_STATIC, 7, 34, 226, 27,
      "If you are satisfied with your setup, click \"Finish\".  Otherwise, you may make changes in the "
      "previous Wizard screens by using \"Prev\" and \"Next\" to navigate.  Click \"Skip\" to discard "
      "changes."),
    C(IDC_NONE, CTRL_GROUPBOX, 21, 65, 194, 52, "Settings Summary"),
    C(IDC_SUMMARY_POS_ICON, CTRL_ICON, 33, 76, 20, 20, "", 0, IDI_NOT_CONFIGURED),
    C(IDC_NONE, CTRL_STATIC, 58, 82, 51, 8, "POS Selection: "),
    C(IDC_SUMMARY_POS, CTRL_STATIC, 118, 82, 84, 8, "None"),
    C(IDC_SUMMARY_COMM_ICON, CTRL_ICON, 33, 94, 20, 20, "", 0, IDI_NOT_CONFIGURED),
    C(IDC_NONE, CTRL_STATIC, 58, 100, 54, 8, "Communications:"),
    C(IDC_SUMMARY_COMM, CTRL_STATIC, 118, 100, 84, 8, "None"),
};

const SControlTemplate WELCOME[] = {
    C(IDC_NONE, CTRL_STATIC, 7, 7, 226, 10, "Welcome to the POS Emulator Setup Wizard."),
    C(IDC_NONE, CTRL_STATIC, 7, 20, 226, 32,
      "This Wizard will help you configure the POS Emulator to function in a specific environment. If you do "
      "not want the Wizard to help you, click Skip to go right to the application."),
};

#define DIALOG(id, caption, cx, cy, controls)                                                                \
    SDialogTemplate {                                                                                        \
        id, caption, cx, cy, "MS Sans Serif", 8, controls, int(std::size(controls))                          \
    }

const SDialogTemplate TEMPLATES[] = {
    DIALOG(IDD_ABOUTBOX, "About POS Emulator", 218, 66, ABOUT),
    DIALOG(IDD_MAIN, "Veltrin POS Emulator (BETA)", 245, 333, MAIN),
    DIALOG(IDD_SEND_ORDER, nullptr, 240, 130, SEND_ORDER),
    DIALOG(IDD_FINISH_ORDER, nullptr, 186, 73, FINISH_ORDER),
    DIALOG(IDD_SETUP_WIZARD, "POS Emulator Setup Wizard (BETA)", 257, 193, SETUP_WIZARD),
    DIALOG(IDD_POS_SETTINGS, nullptr, 240, 124, POS_SETTINGS),
    DIALOG(IDD_COMM_SETTINGS, nullptr, 240, 124, COMM_SETTINGS),
    DIALOG(IDD_SUMMARY, nullptr, 240, 124, SUMMARY),
    DIALOG(IDD_WELCOME, nullptr, 240, 124, WELCOME),
};

} // namespace

const SDialogTemplate* FindDialogTemplate(int id) {
    for (const SDialogTemplate& t : TEMPLATES) {
        if (t.nId == id)
            return &t;
    }
    return nullptr;
}
