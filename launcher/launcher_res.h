// Resource and control ids of the launcher, shared by launcher.rc and the C++ sources.
#pragma once

#define IDI_LAUNCHER 101
#define IDD_LAUNCHER 102
#define IDB_LOGO 104

#define IDC_ID_FIELD 1100
#define IDC_SESSION_BUTTON 1007
#define IDC_QUIT 1001
#define IDC_ID_DISPLAY 1300
#define IDC_PROMPT 1301
#define IDC_HINT_1 1302
#define IDC_HINT_2 1303
#define IDC_PROGRESS_CAPTION 1304
#define IDC_STATUS 1305
#define IDC_RUNNING_1 1306
#define IDC_RUNNING_2 1307
#define IDC_PROGRESS 1330
#define IDC_LOGO 1400
