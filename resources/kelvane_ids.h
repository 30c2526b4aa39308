// Identifiers the calibration program shares with its language modules. Plain macros so that
// both the C++ compiler and the resource compiler read this file. The console has its own: some
// of its numbers mean other things.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_CALIBRATION 102

// Icons.
#define IDR_MAINFRAME 128
#define IDI_BUTTON_OK 1006
#define IDI_BUTTON_CANCEL 1007

// Controls of the run (1 and 2 are the system's IDOK and IDCANCEL).
#define IDC_INSTRUCTION 1000
#define IDC_COUNTDOWN 1001
#define IDC_TARGET_CENTRE 1002
#define IDC_TARGET_TOP_LEFT 1003
#define IDC_TARGET_TOP_CENTRE 1004
#define IDC_TARGET_TOP_RIGHT 1005
#define IDC_TARGET_RIGHT_CENTRE 1006
#define IDC_TARGET_BOTTOM_RIGHT 1007
#define IDC_TARGET_BOTTOM_CENTRE 1008
#define IDC_TARGET_BOTTOM_LEFT 1009
#define IDC_TARGET_LEFT_CENTRE 1010
// The check after a kept result: its button on the finished screen, the distance beside each
// point (the centre, then clockwise from the top-left) and the two ways on at its end.
#define IDC_CHECK 1011
#define IDC_DONE 1012
#define IDC_CALIBRATE_AGAIN 1013
#define IDC_CHECK_DISTANCE_0 1014
#define IDC_CHECK_DISTANCE_1 1015
#define IDC_CHECK_DISTANCE_2 1016
#define IDC_CHECK_DISTANCE_3 1017
#define IDC_CHECK_DISTANCE_4 1018

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_CAPTION 1050
#define IDS_MOUSE_READ_FAILED 1054
#define IDS_INSTRUCTION 1055
#define IDS_INSTRUCTION_DONE 1056
#define IDS_COUNTDOWN_BEFORE 1057
#define IDS_COUNTDOWN_AFTER 1058
#define IDS_NO_FRAME 1059
#define IDS_NO_FRAME_CAPTION 1060
#define IDS_FRAME_REMOVED 1061
#define IDS_OUT_OF_MEMORY 1062
#define IDS_MOUSE_OPEN_FAILED 1063
#define IDS_MOUSE_WRITE_FAILED 1064
#define IDS_NOT_CONNECTED 1065
#define IDS_REFUSED 1066
#define IDS_CHECK_INSTRUCTION 1067
#define IDS_CHECK_COMPLETE 1068
#define IDS_CHECK_LARGEST 1069
#define IDS_CHECK_MEAN 1070
#define IDS_CHECK_PIXELS 1071

// Language module file names, beside the program.
#define KELVANE_MODULE_EN "KelvaneLangEN.dll"
#define KELVANE_MODULE_ZH "KelvaneLangZH.dll"
