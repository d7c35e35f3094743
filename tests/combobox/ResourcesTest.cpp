// The spacings each form resolves, validation warnings and fallbacks, and
// the widget tree of each form.
#include "ComboFixture.h"

#include <Xm/ArrowB.h>
#include <Xm/DrawnB.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <X11/IntrinsicP.h>

namespace {

const char kAlignmentWarning[] =
    "DtComboButtonWidget: Invalid alignment resource (defaulting to "
    "XmALIGNMENT_CENTER).";
const char kOrientationWarning[] =
    "DtComboButtonWidget: Invalid orientation resource (defaulting to "
    "XmRIGHT).";
const char kItemCountWarning[] =
    "DtComboButtonWidget: Invalid itemCount resource (defaulting to 0).";
const char kListCountWarning[] =
    "DtComboButtonWidget: Invalid itemCount resource (defaulting to the "
    "list's item count).";
const char kPositionWarning[] =
    "DtComboButtonWidget: Invalid selectedPosition resource (defaulting to "
    "0).";

using Warnings = std::vector<std::string>;

} // namespace

extern "C" WidgetClass ComboBoxClassFromC(void);
extern "C" Cardinal ComboBoxInstanceSizeFromC(void);

TEST_F(ComboTest, HeadersDescribeTheSameClassToC)
{
    EXPECT_EQ(ComboBoxClassFromC(), dtComboBoxWidgetClass);
    EXPECT_EQ(ComboBoxInstanceSizeFromC(),
              dtComboBoxWidgetClass->core_class.widget_size);
}

// The spacings left at the form's value are resolved by the form.
TEST_F(ComboTest, EditableFormSpacingAndChildren)
{
    Widget combo = MakeCombo({A(DtNtype, 1)});
    EXPECT_EQ(Dim(combo, DtNhorizontalSpacing), 0);
    EXPECT_EQ(Dim(combo, DtNverticalSpacing), 0);

    Widget text = nullptr;
    Widget list = nullptr;
    XtVaGetValues(combo, DtNtextField, &text, DtNlist, &list, nullptr);
    EXPECT_EQ(text, Child(combo, "Text"));
    EXPECT_EQ(Child(combo, "Label"), nullptr);
    EXPECT_EQ(Child(combo, "ComboBoxSeparator"), nullptr);
    EXPECT_TRUE(XmIsDrawnButton(Child(combo, "ComboBoxArrow")));
    EXPECT_EQ(list, XtNameToWidget(combo, "ComboBoxMenuShell.ComboBoxRowColumn.ListSW.List"));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(ComboTest, ReadOnlyFormSpacingAndDefaultLabel)
{
    Widget combo = MakeCombo({A(DtNarrowType, 0)});
    EXPECT_EQ(Dim(combo, DtNhorizontalSpacing), 1);
    EXPECT_EQ(Dim(combo, DtNverticalSpacing), 2);
    Widget text = nullptr;
    XtVaGetValues(combo, DtNtextField, &text, nullptr);
    EXPECT_EQ(text, nullptr);
    EXPECT_TRUE(XmIsArrowButton(Child(combo, "ComboBoxArrow")));
    ASSERT_NE(Child(combo, "ComboBoxSeparator"), nullptr);
    EXPECT_EQ(LabelText(combo), "ComboBox");
}

TEST_F(ComboTest, InvalidAlignmentAndOrientationWarnAndFallBack)
{
    Widget combo = MakeCombo({A(DtNalignment, 7), A(DtNorientation, 5)});
    EXPECT_EQ(warnings, (Warnings{kAlignmentWarning, kOrientationWarning}));
    unsigned char alignment = 0;
    XtVaGetValues(Child(combo, "Label"), XmNalignment, &alignment, nullptr);
    EXPECT_EQ(alignment, XmALIGNMENT_CENTER);
    Position arrow_x = 0, label_x = 0;
    XtVaGetValues(Child(combo, "ComboBoxArrow"), XmNx, &arrow_x, nullptr);
    XtVaGetValues(Child(combo, "Label"), XmNx, &label_x, nullptr);
    EXPECT_GT(arrow_x, label_x);

    warnings.clear();
    XtVaSetValues(combo, DtNalignment, 3, nullptr);
    EXPECT_EQ(warnings, Warnings{kAlignmentWarning});
}

TEST_F(ComboTest, SelectedPositionOutsideTheItemsWarnsAndSelectsFirst)
{
    Str a("alpha"), b("beta"), c("gamma");
    XmString items[] = {a, b, c};
    for (int position : {3, -1}) {
        warnings.clear();
        Widget combo = MakeCombo({A(DtNtype, 1),
                                  A(DtNitems, reinterpret_cast<XtArgVal>(items)),
                                  A(DtNitemCount, 3),
                                  A(DtNselectedPosition, position)});
        EXPECT_EQ(warnings, Warnings{kPositionWarning});
        EXPECT_EQ(Int(combo, DtNselectedPosition), 0);
        EXPECT_EQ(FieldText(combo), "alpha");
        XtDestroyWidget(combo);
    }

    warnings.clear();
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNitems, reinterpret_cast<XtArgVal>(items)),
                              A(DtNitemCount, 3), A(DtNselectedPosition, 2)});
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(FieldText(combo), "gamma");
}

TEST_F(ComboTest, ItemCountIsValidatedButAnEmptyListTakesAnyPosition)
{
    MakeCombo({A(DtNtype, 1), A(DtNitemCount, -2)});
    EXPECT_EQ(warnings, Warnings{kItemCountWarning});

    warnings.clear();
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNselectedPosition, 4)});
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(FieldText(combo), "");
}

TEST_F(ComboTest, ItemCountBeyondTheItemsFallsBack)
{
    // No items at all: the count cannot be honoured.
    Widget empty = MakeCombo({A(DtNtype, 1), A(DtNitemCount, 3),
                              A(DtNselectedPosition, 1)});
    EXPECT_EQ(warnings, Warnings{kItemCountWarning});
    EXPECT_EQ(Int(empty, DtNitemCount), 0);

    // A count alone may shorten the list but not run past its end.
    warnings.clear();
    Widget combo = MakeCombo({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta", "gamma"});
    XtVaSetValues(combo, DtNitemCount, 50, DtNselectedPosition, 40, nullptr);
    EXPECT_EQ(warnings, (Warnings{kListCountWarning, kPositionWarning}));
    EXPECT_EQ(Int(combo, DtNitemCount), 3);
    EXPECT_EQ(FieldText(combo), "alpha");

    warnings.clear();
    XtVaSetValues(combo, DtNitemCount, 2, nullptr);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(Int(combo, DtNitemCount), 2);
}

TEST_F(ComboTest, ChildResourcesCannotBeReplaced)
{
    Widget combo = MakeCombo({A(DtNtype, 1)});
    Widget text = Child(combo, "Text");
    Widget list = nullptr;
    XtVaGetValues(combo, DtNlist, &list, nullptr);
    XtVaSetValues(combo, DtNtextField, shell, DtNlist, shell, nullptr);
    EXPECT_EQ(warnings,
              (Warnings{"DtComboButtonWidget: Unable to set textField resource.",
                        "DtComboButtonWidget: Unable to set list resource."}));
    Widget now_text = nullptr, now_list = nullptr;
    XtVaGetValues(combo, DtNtextField, &now_text, DtNlist, &now_list, nullptr);
    EXPECT_EQ(now_text, text);
    EXPECT_EQ(now_list, list);
    AddItems(combo, {"alpha"});
    EXPECT_EQ(FieldText(combo), "alpha");
}

TEST_F(ComboTest, OtherTypeValuesGetTheLabelWithoutSeparator)
{
    Widget combo = MakeCombo({A(DtNtype, 5)});
    AddItems(combo, {"alpha"});
    Show();
    EXPECT_NE(Child(combo, "Label"), nullptr);
    EXPECT_EQ(Child(combo, "ComboBoxSeparator"), nullptr);

    XtVaSetValues(combo, DtNtype, 0, nullptr);
    Widget separator = Child(combo, "ComboBoxSeparator");
    ASSERT_NE(separator, nullptr);
    EXPECT_TRUE(XtIsManaged(separator));
    EXPECT_EQ(LabelText(combo), "alpha");

    Widget editable = MakeCombo({A(DtNtype, 1)});
    XtVaSetValues(editable, DtNtype, 7, nullptr);
    EXPECT_TRUE(XtIsManaged(Child(editable, "ComboBoxLabel")));
    EXPECT_FALSE(XtIsManaged(Child(editable, "ComboBoxTextField") ?
                             Child(editable, "ComboBoxTextField") :
                             Child(editable, "Text")));
    XtVaSetValues(editable, DtNtype, 0, nullptr);
    EXPECT_TRUE(XtIsManaged(Child(editable, "ComboBoxSeparator")));
    EXPECT_TRUE(warnings.empty());
}
