#pragma once
// Resource ids of LumoDictGen.exe. The string ids are those of UserMessage
// (common/user_messages.h); a test checks that the two agree.

#define IDD_LUMODICTGEN_DIALOG 101
#define IDI_MAINFRAME 104

#define IDC_CHECK_REGISTER 1001
#define IDC_PROGRESS 1002
#define IDC_BUTTON_IMPORT 1003
#define IDC_GROUP_INPUT 1004
#define IDC_GROUP_FACTS 1005
#define IDC_GROUP_SAVE 1006
#define IDC_EDIT_INPUT 1007
#define IDC_EDIT_SAVE 1008
#define IDC_BUTTON_SAVEAS 1009
#define IDC_EDIT_NAME 1010
#define IDC_EDIT_AUTHOR 1011
#define IDC_EDIT_NUMBER 1012
#define IDC_EDIT_VERSION 1013
#define IDC_DATE 1015
#define IDC_LABEL_NAME 1016
#define IDC_LABEL_AUTHOR 1017
#define IDC_LABEL_NUMBER 1018
#define IDC_REQUIRED 1019
#define IDC_LABEL_VERSION 1020
#define IDC_LABEL_DATE 1021
#define IDC_STATUS 1022

#define IDS_CAPTION 200
#define IDS_CONVERT_FAILED 201
#define IDS_TEMP_FILE_MISSING 202
#define IDS_TEMP_DELETE_FAILED 203
#define IDS_INPUT_OPEN_FAILED 204
#define IDS_WORD_LIST_TOO_BIG 205
#define IDS_PACKAGE_CREATE_FAILED 206
#define IDS_BOTH_PATHS_WRONG 207
#define IDS_INPUT_MISSING 208
#define IDS_SAVE_PATH_WRONG 209
#define IDS_NAME_EMPTY 210
#define IDS_SAVE_IS_INPUT 211
#define IDS_ALREADY_REGISTERED 212
#define IDS_REGISTERED 213
#define IDS_REGISTER_WRITE_FAILED 214
#define IDS_NO_SETTINGS_FILE 215
#define IDS_CONVERTING 216
#define IDS_CONVERT_DONE 217
#define IDS_CONVERT_CANCELLED 218
#define IDS_CONVERT_FAILED_STATUS 219
#define IDS_INPUT_PROMPT 220
#define IDS_TITLE 221
#define IDS_WINDOW_FAILED 222
#define IDS_DISK_FULL 223
#define IDS_METADATA_TOO_LONG 224

// The framework's status-bar id, which the dialog's bottom bar keeps.
#define IDW_STATUS_BAR 0xE801

// Chooser filters, texts of the program's own beyond the shared messages.
#define IDS_FILTER_WORD_LIST 300
#define IDS_FILTER_PACKAGE 301
// The Exit button's two texts.
#define IDS_BUTTON_CANCEL 302
#define IDS_BUTTON_EXIT 303
