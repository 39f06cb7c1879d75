// Resource and control ids of FwUpdate's dialogs, shared by the resource script and the code.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_FWUPDATE_DIALOG 102
#define IDC_DOWNLOAD 1002
#define IDC_DEVICE_VERSION 1009
#define IDC_NEW_VERSION 1010
#define IDC_PROGRESS 1011
#define IDC_STATUS 1012
#define IDM_ABOUTBOX 0x0010
