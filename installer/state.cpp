// Definitions of the process-wide installer state declared in state.h.
#include "state.h"

RunMode runMode = RunMode::kWindow;
char* pLocation = nullptr;
char** pArgv = nullptr;
bool bInstallationStarted = false;

XtAppContext appContext = nullptr;
Widget toplevel = nullptr;
Widget placeholder = nullptr;
Widget dummypopup = nullptr;

Widget page1form, page1logo, page1toplabel, page1bottomlabel;
Widget page1scrolledwindow, page1license;
Widget page1separator, page1buttons;
Widget page1finish, page1accept, page1back, page1cancel;
Widget page1default;

Widget page2form, page2logo, page2frame1, page2dircombobox;
Widget page2dirlabel, page2separator, page2buttons;
Widget page2finish, page2next, page2back, page2cancel;
Widget page2default;

Widget page3form, page3logo, page3progresslabel, page3progressframe;
Widget page3progressbar;

Widget ErrorDialog;

GC progressGC = nullptr;
XFontStruct* pProgressFont = nullptr;
float fPercentDone = 0.0f;
