/* The loader's resources: their ids and the dialog template's data. Only preprocessor macros,
   so that the resource compiler (loader.rc) and the C++ side (dialog_template.cpp) read the very
   same values. Texts are narrow literals here; the C++ side makes them wide. Styles name the
   window style bits, which both sides define. */
#ifndef FERROVAN_RESOURCES_LOADER_RESOURCES_H
#define FERROVAN_RESOURCES_LOADER_RESOURCES_H

#define IDI_LOADER 101
#define IDD_LOADER 102

/* The dialog: no caption, covers the screen once shown; positions and sizes in dialog units. */
#define LOADER_DIALOG_STYLE (WS_POPUP | WS_BORDER | DS_SETFONT | DS_FIXEDSYS)
#define LOADER_DIALOG_RECT 0, 0, 156, 177
#define LOADER_DIALOG_FONT_SIZE 8
#define LOADER_DIALOG_FONT "MS Shell Dlg"

/* Its controls, in tab order. Only the status line is visible at the start. */
#define IDC_LOADER_OK 1001
#define LOADER_OK_TEXT "Ok"
#define LOADER_OK_STYLE (WS_CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON)
#define LOADER_OK_RECT 7, 94, 50, 14

#define IDC_LOADER_CANCEL 1002
#define LOADER_CANCEL_TEXT "Cancel"
#define LOADER_CANCEL_STYLE (WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON)
#define LOADER_CANCEL_RECT 99, 94, 50, 14

#define IDC_LOADER_URL 1003
#define LOADER_URL_TEXT ""
#define LOADER_URL_STYLE (WS_CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL)
#define LOADER_URL_RECT 7, 74, 142, 14

#define IDC_LOADER_STATUS 1004
#define LOADER_STATUS_TEXT "Ferro Van Loader"
#define LOADER_STATUS_STYLE (WS_CHILD | WS_VISIBLE | WS_GROUP)
#define LOADER_STATUS_RECT 7, 38, 142, 28

#endif
