// Resource identifiers of tolmar07.exe.
#pragma once

// The progress window (window class TTolmarForm).
#define IDD_PROGRESS_WINDOW 100
#define IDC_TEXT_PANEL 1001
#define IDC_SEARCHING_TEXT 1002  // "Söker efter personer i Mirell. Vänta..."
#define IDC_PROGRESS_LINES 1003  // the run's lines, never visible
#define IDC_PROGRESS_PANEL 1004
#define IDC_PROGRESS_BAR 1005
#define IDC_STATUS_PANEL 1006
#define IDC_STATUS_TEXT 1007  // the version, then the run's counts
#define IDC_SEARCH_ANIMATION 1008

// The test lookup form.
#define IDD_TESTFORM 200
#define IDC_RETURN_CODE 2001  // the lookup's return code, "Last msg:"
#define IDC_PERSONAL_NUMBER 2002
#define IDC_SEARCH IDOK  // "&Sök", also Enter
#define IDC_PERSON_GROUP 2004
#define IDC_BUTTON_RULE 2005  // the line above the bottom buttons
#define IDC_SHOW_XML 2006  // "XML..."
#define IDC_QUIT IDCANCEL  // "&Avsluta", also Esc
#define IDC_SEX 2010
#define IDC_FIRST_NAME 2011
#define IDC_ALL_FIRST_NAMES 2012
#define IDC_MIDDLE_NAME 2013
#define IDC_SURNAME 2014
#define IDC_ADDRESS 2015
#define IDC_CO_ADDRESS 2016
#define IDC_POST_NUMBER 2017
#define IDC_TOWN 2018
#define IDC_RELATION 2019
#define IDC_STATUS 2020
#define IDC_LABEL_FIRST 2100  // labels 2100.. in the order of the layout table

// The returned-XML viewer.
#define IDD_XMLVIEWER 300
#define IDC_XML_TEXT 3001
