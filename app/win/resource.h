// Resource identifiers of tolmar07.exe.
#pragma once

#define IDD_TOLMARFORM 100

#define IDC_PANEL1 1001
#define IDC_LABEL1 1002
#define IDC_LISTBOX1 1003
#define IDC_PANEL2 1004
#define IDC_PROGRESSBAR1 1005
#define IDC_PANEL3 1006
#define IDC_LABEL2 1007
#define IDC_ANIMATE1 1008
