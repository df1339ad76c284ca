// Every command of the menus and the toolbar: its id, its menu text, the prompt the status
// bar shows and the toolbar's tooltip. Both front ends and the tests share this one table.
#pragma once

#include "zubwnd.h"

#include <span>

// Command ids of the menus, the toolbar and the document's internal commands.
enum : UINT
{
    ID_PARAMS_GENERAL = 32771,
    ID_FILE_OPEN = 32783,
    ID_VIEW_CONSOLE = 32787,
    ID_VIEW_RESULTS = 32792,
    ID_PARAMS_SIMULATION = 32794,
    ID_VIEW_FRAME_DATA = 32797,
    ID_PARAMS_TEST = 32803,
    ID_PARAMS_KIV = 32808,
    ID_START_SOURCE = 32822,
    ID_STOP_SOURCE = 32823,
    ID_VIEW_MASK = 32828,
    ID_VIEW_MEAN = 32829,
    ID_PROCESS_RUN = 32834,
    ID_PROCESS_STOP = 32835,
    ID_PROCESS_SILENT = 32841,
    ID_FILE_NEW = 57600,
    ID_FILE_MRU_FILE1 = 57616,  // ... ID_FILE_MRU_FILE1 + 15; four are used
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

constexpr int kZubRecentFileCount = 4;
constexpr UINT ID_FILE_MRU_LAST = ID_FILE_MRU_FILE1 + 15;

struct SZubCommand
{
    UINT id;
    const char* text;     // menu text ("&" marks the access key)
    const char* prompt;   // status bar text while the item is highlighted
    const char* tooltip;  // toolbar tooltip; null for commands without a button
};

// The menu and toolbar commands, in menu order.
std::span<const SZubCommand> ZubCommands();
// The entry of a command id (any recent-file id gives the recent-file entry); null if none.
const SZubCommand* ZubFindCommand(UINT id);
