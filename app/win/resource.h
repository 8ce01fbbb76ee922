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

// The test lookup form.
#define IDD_TESTFORM 200
#define IDC_EDTLOGIN 2001
#define IDC_EDIT1 2002
#define IDC_BITBTN3 IDOK
#define IDC_GROUPBOX1 2004
#define IDC_BEVEL1 2005
#define IDC_BUTTON1 2006
#define IDC_BITBTN1 IDCANCEL
#define IDC_KONEDIT 2010
#define IDC_FNAMNEDIT 2011
#define IDC_EDTALLAFORNAMN 2012
#define IDC_MELLANNAMNEDIT 2013
#define IDC_ENAMNEDIT 2014
#define IDC_ADRESSEDIT 2015
#define IDC_COADRESSEDIT 2016
#define IDC_POSTNREDIT 2017
#define IDC_ORTEDIT 2018
#define IDC_EDTRELATION 2019
#define IDC_STATUSEDIT 2020
#define IDC_LABEL_FIRST 2100  // labels 2100.. in the order of the layout table

// The returned-XML viewer.
#define IDD_XMLVIEWER 300
#define IDC_MEMO1 3001
