// Resource identifiers of the data-provider chooser and its name box.
#pragma once

#define IDD_DATAPROVIDERS 400
#define IDD_NEWPROVIDER 401

// The chooser `TfrmDataProviders`; "OK" and "Avbryt" are the dialog's own
// IDOK and IDCANCEL, so that Enter and Esc reach them.
#define IDC_DP_OK IDOK
#define IDC_DP_CANCEL IDCANCEL
#define IDC_DP_BUTTON_PANEL 4001
#define IDC_DP_GROUP 4002
#define IDC_DP_ACTION_PANEL 4003
#define IDC_DP_SET_DEFAULT 4004
#define IDC_DP_ADD 4005
#define IDC_DP_EDIT 4006
#define IDC_DP_DELETE 4007
#define IDC_DP_LIST_LABEL 4008
#define IDC_DP_LIST 4009

// The text-input box of "Lägg till...".
#define IDC_NP_PROMPT 4101
#define IDC_NP_EDIT 4102
