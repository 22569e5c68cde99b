/* Control identifiers of the configurator dialog. Plain defines, so that the resource script
   includes the same file. */
#ifndef VALDRIX_UI_CONTROLS_H
#define VALDRIX_UI_CONTROLS_H

#define IDD_CONFIG 1

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif

#define IDC_LABEL_PORT 101
#define IDC_LABEL_RATE 102
#define IDC_LABEL_XN_ADDRESS 103
#define IDC_LABEL_BASE_ADDRESS 104
#define IDC_LABEL_MODULES16 105
#define IDC_LABEL_MODULES8 106
#define IDC_LABEL_VERSION 107
#define IDC_VERSION 108

#define IDC_PORT 200
#define IDC_RATE 201
#define IDC_XN_ADDRESS 202
#define IDC_BASE_ADDRESS 203
#define IDC_MODULES16 205
#define IDC_MODULES8 206
#define IDC_STATUS 207

/* Notification codes the dialog acts on (the platform's values). */
#define VALDRIX_BN_CLICKED 0
#define VALDRIX_CBN_SELENDOK 9
#define VALDRIX_EN_CHANGE 0x0300

#endif
