// Resource identifiers of the data-provider chooser and its name box.
#pragma once

#define IDD_DATAPROVIDERS 400
#define IDD_NEWPROVIDER 401

// The chooser `TfrmDataProviders`; "OK" and "Avbryt" are the dialog's own
// IDOK and IDCANCEL, so that Enter and Esc reach them.
#define IDC_DP_BITBTN1 IDOK
#define IDC_DP_BITBTN2 IDCANCEL
#define IDC_DP_PANEL1 4001
#define IDC_DP_GROUPBOX1 4002
#define IDC_DP_PANEL2 4003
#define IDC_DP_BITBTN3 4004
#define IDC_DP_BITBTN4 4005
#define IDC_DP_BITBTN5 4006
#define IDC_DP_BITBTN6 4007
#define IDC_DP_LABEL1 4008
#define IDC_DP_LISTBOX1 4009

// The text-input box of "Lägg till...".
#define IDC_NP_PROMPT 4101
#define IDC_NP_EDIT 4102
