// Identifiers the console shares with its language modules. Plain macros so that both the C++
// compiler and the resource compiler read this file. Some numbers mean other things in the
// calibration program's own header.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_CONSOLE 102
#define IDD_PAGE_INFO 129
#define IDD_PAGE_CONFIG 131
#define IDD_PAGE_CALIBRATION 132
#define IDD_PAGE_OPTIONS 133
#define IDD_PAGE_ABOUT 134

// Icon of the window and of the notification area.
#define IDR_MAINFRAME 128

// Illustrations of the calibration option's values 0..3.
#define IDB_OPTION_0 136
#define IDB_OPTION_1 137
#define IDB_OPTION_2 138
#define IDB_OPTION_3 139

// Main window.
#define IDC_TABS 1004
#define IDC_STATUS 1020

// Information page: read-only fields.
#define IDC_INFO_COUNT_A 1038
#define IDC_INFO_COUNT_B 1039
#define IDC_INFO_LIST_A 1040
#define IDC_INFO_LIST_B 1041
#define IDC_INFO_VALUE_01 1042
#define IDC_INFO_TEXT_F2 1050
#define IDC_INFO_TEXT_F3 1051
#define IDC_INFO_TEXT_F4 1052
#define IDC_INFO_TEXT_F5 1053

// Configuration page.
#define IDC_CFG_11 1022   // on/off list: index 1 is on
#define IDC_CFG_12A 1023  // on/off lists: index 0 is on
#define IDC_CFG_12B 1024
#define IDC_CFG_12C 1025
#define IDC_CFG_15_ON 1026     // on/off, enables the two lists after it
#define IDC_CFG_15_TIME 1027   // 500..5000 in steps of 500
#define IDC_CFG_15_LEVEL 1028  // 1..10
#define IDC_CFG_14_ON 1029     // on/off, enables level and time
#define IDC_CFG_14_LEVEL 1030  // 1..10
#define IDC_CFG_14_TIME 1031   // 100..1000 in steps of 100
#define IDC_CFG_16_ON 1032     // on/off, enables the edit box and the spin box
#define IDC_CFG_16_TEXT 1043   // read-only, two characters
#define IDC_CFG_16_SPIN 1044
#define IDC_CFG_17C 1045  // hidden lists, levels 1..10
#define IDC_CFG_17D 1046
#define IDC_CFG_21_ON 1047  // on/off, enables the two lists after it
#define IDC_CFG_21_A 1048   // table A
#define IDC_CFG_21_B 1049   // table B
#define IDC_CFG_17A 1059    // sliders, levels 1..5
#define IDC_CFG_17B 1060
#define IDC_CFG_17C_LABEL 1061  // hidden
#define IDC_CFG_17D_LABEL 1062  // hidden
#define IDC_CFG_DEFAULT 1036
#define IDC_CFG_APPLY 1037

// Calibration page.
#define IDC_CAL_OPTION_0 1008  // radio buttons of the calibration option
#define IDC_CAL_OPTION_1 1009
#define IDC_CAL_OPTION_2 1010
#define IDC_CAL_OPTION_3 1011
#define IDC_CAL_PICTURE 1012  // where the illustration is drawn
#define IDC_CAL_MODE_2 1013   // radio buttons of the calibration mode
#define IDC_CAL_MODE_3 1020
#define IDC_CAL_MODE_4 1014
#define IDC_CAL_APPLY 1015
#define IDC_CAL_FACTORY 1016
#define IDC_CAL_START 1017
#define IDC_CAL_EXPORT 1018
#define IDC_CAL_IMPORT 1019

// Options page.
#define IDC_OPT_ENGLISH 1054
#define IDC_OPT_CHINESE 1055
#define IDC_OPT_LOGON 1056
#define IDC_OPT_MINIMIZE 1057
#define IDC_OPT_APPLY 1058

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_CAPTION 1080
#define IDS_CONNECTED 1081
#define IDS_NOT_CONNECTED 1082
#define IDS_NO_FRAME 1083
#define IDS_ALREADY_STARTED 1084
#define IDS_REFUSED 1085
#define IDS_START_FAILED 1086
#define IDS_START_BAD_FORMAT 1087
#define IDS_FILE_NOT_FOUND 1088
#define IDS_PATH_NOT_FOUND 1089
#define IDS_OUT_OF_MEMORY 1090
#define IDS_KEY_OPEN_FAILED 1096
#define IDS_KEY_CREATE_FAILED 1097
#define IDS_VALUE_CREATE_FAILED 1098
#define IDS_VALUE_READ_FAILED 1099
#define IDS_VALUE_WRITE_FAILED 1100
#define IDS_LOGON_REMOVE_FAILED 1101
#define IDS_LOGON_SET_FAILED 1102
#define IDS_TRAY_ICON_FAILED 1103
#define IDS_TAB_INFO 1110
#define IDS_TAB_CONFIG 1111
#define IDS_TAB_CALIBRATION 1112
#define IDS_TAB_OPTIONS 1113
#define IDS_TAB_ABOUT 1114

// The item texts of a drop-down list of the configuration page: string (control * 10 + item).
#define IDS_LIST_ITEM(control, item) ((control)*10 + (item))

// Language module file names, beside the program.
#define CONSOLE_MODULE_EN "TactraConsoleLangEN.dll"
#define CONSOLE_MODULE_ZH "TactraConsoleLangZH.dll"
