// Pictures of each form, closed and with the list open, for a person to
// look at (build tree, screenshots/combobox). Each also checks that the
// list is really on the screen below the field.
#include "ComboFixture.h"
#include "TestSupport.h"

namespace {

struct Form {
    const char* name;
    int type;
    int arrow_type;
};

constexpr Form kForms[] = {
    {"editable_arrowbutton", 1, 0},
    {"editable_drawnarrow", 1, 1},
    {"readonly_arrowbutton", 0, 0},
    {"readonly_drawnarrow", 0, 1},
};

} // namespace

TEST_F(ComboTest, ScreenshotsOfEachFormClosedAndOpen)
{
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        SetUp();
        Widget combo = MakeCombo({A(DtNtype, form.type),
                                  A(DtNarrowType, form.arrow_type)});
        AddItems(combo, {"/usr/local/ovelo8", "/opt/ovelo8", "/home/user/ovelo8"});
        Show(40, 40);
        std::string closed = ScreenshotPath(std::string(form.name) + "_closed");
        ASSERT_TRUE(SaveWindowPng(dpy, XtWindow(shell), closed));

        ClickWidget(Child(combo, "ComboBoxArrow"));
        Process();
        Widget popup = Child(combo, "ComboBoxMenuShell");
        ASSERT_TRUE(XtIsRealized(popup));
        XWindowAttributes attrs;
        XGetWindowAttributes(dpy, XtWindow(popup), &attrs);
        EXPECT_EQ(attrs.map_state, IsViewable);
        std::string open = ScreenshotPath(std::string(form.name) + "_open");
        ASSERT_TRUE(SaveRootRegionPng(dpy, 0, 0, 400, 300, open));

        PressKey(dpy, XK_Escape);
        Process();
        XGetWindowAttributes(dpy, XtWindow(popup), &attrs);
        EXPECT_NE(attrs.map_state, IsViewable);
        TearDown();
    }
    SetUp();
}
