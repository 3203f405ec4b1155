// Resource and control ids shared by the resource script and the Win32 dialogs.
// Plain macros: the resource compiler's preprocessor reads this file too.
#pragma once

// Dialogs
#define RES_ABOUT_DIALOG 100
#define RES_SETTINGS_DIALOG 102
#define RES_PROGRESS_DIALOG 129
#define RES_POWER_ON_DIALOG 130
#define RES_PASSWORD_DIALOG 131
#define RES_SEARCH_DIALOG 132

// Strings
#define RES_ABOUT_MENU_STRING 101
#define RES_SOCKET_INIT_FAILED_STRING 103

// Icon
#define RES_APP_ICON 128

// Controls
#define CTL_STATIC (-1)
#define CTL_ADDRESS_EDIT 1004   // settings: the IP address; password: the password
#define CTL_COM1 1005
#define CTL_COM2 1006
#define CTL_COM3 1007
#define CTL_COM4 1008
#define CTL_BAUD_9600 1009
#define CTL_BAUD_19200 1010
#define CTL_BAUD_38400 1011
#define CTL_BAUD_57600 1012
#define CTL_BAUD_115200 1013
#define CTL_LAN_RADIO 1016
#define CTL_SERIAL_RADIO 1017
#define CTL_STATUS_COMMAND 1019  // never visible; its id is the status command
#define CTL_STATUS_LINE 1022
#define CTL_PROGRESS_BAR 1024
#define CTL_SEARCH_LIST 1030      // search: the access points found
#define CTL_SEARCH_PROGRESS 1031  // search: the progress bar
#define CTL_SEARCH_STATE 1032     // search: "検索中...", the not-found line or the subnets searched
#define CTL_SEARCH_AGAIN 1033     // search: "再検索"

// The system-menu command of the version box (its low four bits are free for the system).
#define SYSCMD_ABOUT 0x0010
// The system-menu command that opens the search for access points.
#define SYSCMD_SEARCH 0x0020
