#include "ComboFixture.h"
#include "TestSupport.h"

TEST_F(ComboTest, Smoke)
{
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNarrowType, 0)});
    AddItems(combo, {"/usr/local/ovelo", "/opt/ovelo", "/home/user/ovelo"});
    Show();
    printf("combo %dx%d warnings %zu\n", Dim(combo, XmNwidth), Dim(combo, XmNheight), warnings.size());
    for (auto& w : warnings) printf("W: %s\n", w.c_str());
    SaveWindowPng(dpy, XtWindow(shell), ScreenshotPath("smoke_closed"));
    ClickWidget(Child(combo, "ComboBoxArrow"));
    Process();
    SaveRootRegionPng(dpy, 0, 0, 600, 400, ScreenshotPath("smoke_open"));
    printf("field %s\n", FieldText(combo).c_str());
}
