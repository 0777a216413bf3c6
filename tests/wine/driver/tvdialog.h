/* Control ids of the bench's test dialog (tvdialog.rc, tvdialog.c). */
#ifndef TVDIALOG_H
#define TVDIALOG_H

#define IDD_TEST 100
#define IDC_PROMPT 101
#define IDC_OVERWRITE 102
#define IDC_FOLDER 106
#define IDC_STATUS 109
#define IDC_WORK 3

#endif
