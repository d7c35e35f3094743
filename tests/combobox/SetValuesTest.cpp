// Resource changes after creation: switching forms and arrows, the label
// text, and resources passed on to the children.
#include "ComboFixture.h"

#include <Xm/ArrowB.h>
#include <Xm/DrawnB.h>
#include <Xm/TextF.h>

#include "TestSupport.h"

namespace {

// Every child of the combo box with the given name.
std::vector<Widget> ChildrenNamed(Widget combo, const char* name)
{
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(combo, XmNchildren, &children, XmNnumChildren, &count,
                  nullptr);
    std::vector<Widget> found;
    for (Cardinal i = 0; i < count; ++i) {
        if (std::string(XtName(children[i])) == name)
            found.push_back(children[i]);
    }
    return found;
}

// Callbacks still on the old arrow when the toolkit destroys it.
int expose_callbacks_left = -1;
int activate_callbacks_left = -1;

void NoteCallbacksLeft(Widget w, XtPointer, XtPointer)
{
    expose_callbacks_left = XtHasCallbacks(w, XmNexposeCallback) ==
                            XtCallbackHasSome;
    activate_callbacks_left = XtHasCallbacks(w, XmNactivateCallback) ==
                              XtCallbackHasSome;
}

} // namespace

TEST_F(ComboTest, ArrowTypeChangeReplacesTheArrowWidget)
{
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNarrowType, 1)});
    AddItems(combo, {"alpha", "beta"});
    Show();
    Widget drawn = Child(combo, "ComboBoxArrow");
    ASSERT_TRUE(XmIsDrawnButton(drawn));
    XtAddCallback(drawn, XmNdestroyCallback, NoteCallbacksLeft, nullptr);
    XtVaSetValues(combo, DtNarrowType, 0, nullptr);
    Process();
    EXPECT_EQ(expose_callbacks_left, 0);
    EXPECT_EQ(activate_callbacks_left, 0);
    std::vector<Widget> arrows = ChildrenNamed(combo, "ComboBoxArrow");
    ASSERT_EQ(arrows.size(), 1u);
    EXPECT_TRUE(XmIsArrowButton(arrows[0]));
    EXPECT_TRUE(XtIsManaged(arrows[0]));

    // The new arrow posts the list; the old one is gone with its callbacks.
    ClickWidget(arrows[0]);
    Process();
    Boolean popped_up = False;
    XtVaGetValues(combo, DtNpoppedUp, &popped_up, nullptr);
    EXPECT_TRUE(popped_up);
    PressKey(dpy, XK_Escape);
    Process();

    XtVaSetValues(combo, DtNarrowType, 1, nullptr);
    Process();
    arrows = ChildrenNamed(combo, "ComboBoxArrow");
    ASSERT_EQ(arrows.size(), 1u);
    EXPECT_TRUE(XmIsDrawnButton(arrows[0]));
    EXPECT_TRUE(warnings.empty());

    // Any other value also makes a drawn arrow, and loses it the same way.
    Widget other = MakeCombo({A(DtNtype, 1), A(DtNarrowType, 2)});
    Widget drawn_other = Child(other, "ComboBoxArrow");
    ASSERT_TRUE(XmIsDrawnButton(drawn_other));
    XtAddCallback(drawn_other, XmNdestroyCallback, NoteCallbacksLeft, nullptr);
    XtVaSetValues(other, DtNarrowType, 0, nullptr);
    Process();
    EXPECT_EQ(expose_callbacks_left, 0);
}

TEST_F(ComboTest, TypeChangesSwitchTheFieldAndTheBands)
{
    Widget combo = MakeCombo({});
    AddItems(combo, {"alpha", "beta"});
    Show();
    XtVaSetValues(combo, DtNtype, 1, nullptr);
    Widget text = Child(combo, "ComboBoxTextField");
    ASSERT_NE(text, nullptr);
    Widget field = nullptr;
    XtVaGetValues(combo, DtNtextField, &field, nullptr);
    EXPECT_EQ(field, text);
    EXPECT_TRUE(XtIsManaged(text));
    EXPECT_FALSE(XtIsManaged(Child(combo, "Label")));
    EXPECT_FALSE(XtIsManaged(Child(combo, "ComboBoxSeparator")));
    EXPECT_EQ(Dim(combo, XmNshadowThickness), 1);
    EXPECT_EQ(Dim(combo, DtNhorizontalSpacing), 0);
    EXPECT_EQ(Dim(combo, DtNverticalSpacing), 0);
    EXPECT_EQ(FieldText(combo), "alpha");

    XtVaSetValues(combo, DtNtype, 0, DtNselectedPosition, 1, nullptr);
    EXPECT_FALSE(XtIsManaged(text));
    EXPECT_TRUE(XtIsManaged(Child(combo, "Label")));
    EXPECT_EQ(Dim(combo, XmNshadowThickness), 2);
    EXPECT_EQ(LabelText(combo), "beta");

    // From the editable form the label is made on first use.
    Widget editable = MakeCombo({A(DtNtype, 1)});
    XtVaSetValues(editable, DtNtype, 0, DtNhorizontalSpacing, 7, nullptr);
    EXPECT_NE(Child(editable, "ComboBoxLabel"), nullptr);
    EXPECT_EQ(Dim(editable, DtNhorizontalSpacing), 7);
    EXPECT_EQ(Dim(editable, DtNverticalSpacing), 2);
}

TEST_F(ComboTest, NewLabelStringIsShownRatherThanTheSelection)
{
    Widget combo = MakeCombo({});
    AddItems(combo, {"alpha", "beta"});
    EXPECT_EQ(LabelText(combo), "alpha");
    Str label("Choose");
    XtVaSetValues(combo, DtNlabelString, label.arg(), nullptr);
    EXPECT_EQ(LabelText(combo), "Choose");

    Str items[] = {Str("x"), Str("y")};
    XmString table[] = {items[0], items[1]};
    XtVaSetValues(combo, DtNitems, table, DtNitemCount, 2, nullptr);
    EXPECT_EQ(LabelText(combo), "x");
    EXPECT_EQ(Int(combo, DtNitemCount), 2);
}

TEST_F(ComboTest, ColumnsAndListResourcesReachTheChildren)
{
    Widget combo = MakeCombo({A(DtNtype, 1)});
    XtVaSetValues(combo, DtNcolumns, 7, DtNmaxLength, 12,
                  DtNvisibleItemCount, 4, nullptr);
    Widget text = Child(combo, "Text");
    EXPECT_EQ(Int(text, XmNmaxLength), 12);
    short columns = 0;
    XtVaGetValues(text, XmNcolumns, &columns, nullptr);
    EXPECT_EQ(columns, 7);
    Widget list = nullptr;
    XtVaGetValues(combo, DtNlist, &list, nullptr);
    EXPECT_EQ(Int(list, XmNvisibleItemCount), 4);

    Widget read_only = MakeCombo({});
    XtVaSetValues(read_only, DtNalignment, XmALIGNMENT_END, nullptr);
    unsigned char alignment = 0;
    XtVaGetValues(Child(read_only, "Label"), XmNalignment, &alignment,
                  nullptr);
    EXPECT_EQ(alignment, XmALIGNMENT_END);
}
