// Resource and control identifiers of the installer program.
#pragma once

#define IDD_PROGRESS 103
#define IDB_BANNER 203

#define IDC_PROGRESS_BAR 201
#define IDC_PROGRESS_TEXT 203
#define IDC_STATUS_LINE 204
#define IDC_INFORMATION_LINE 205
#define IDC_HEADING_FRAME 206
#define IDC_DESCRIPTION 208
