// Adding, deleting, setting and selecting items, the values read through
// the synthetic resources, and creation helpers.
#include "ComboFixture.h"

#include <Xm/List.h>

namespace {

const char kSetWarning[] =
    "DtComboBoxWidget: Unable to find item to set (DtComboBoxSetItem).";
const char kSelectWarning[] =
    "DtComboBoxWidget: Unable to find item to select (XmComboBoxSelectItem).";

int callback_count = 0;

void Count(Widget, XtPointer, XtPointer)
{
    ++callback_count;
}

} // namespace

class FunctionsTest : public ComboTest {
protected:
    // An editable combo box holding the given items, whose callbacks count.
    Widget Editable(std::initializer_list<const char*> texts)
    {
        Widget combo = MakeCombo({A(DtNtype, 1)});
        AddItems(combo, texts);
        for (const char* name : {DtNactivateCallback, DtNmenuPostCallback,
                                 DtNselectionCallback})
            XtAddCallback(combo, name, Count, nullptr);
        callback_count = 0;
        return combo;
    }

    static Widget List(Widget combo)
    {
        Widget list = nullptr;
        XtVaGetValues(combo, DtNlist, &list, nullptr);
        return list;
    }

    static std::vector<int> ListSelection(Widget combo)
    {
        int* positions = nullptr;
        int count = 0;
        std::vector<int> result;
        if (XmListGetSelectedPos(List(combo), &positions, &count)) {
            result.assign(positions, positions + count);
            XtFree(reinterpret_cast<char*>(positions));
        }
        return result;
    }

    void Select(Widget combo, const char* text)
    {
        Str item(text);
        ZEBDtComboBoxSelectItem(combo, item);
    }
};

TEST_F(FunctionsTest, UniqueAddingRefusesDuplicatesSilently)
{
    Widget combo = Editable({"alpha", "alpha"});
    EXPECT_EQ(Int(combo, DtNitemCount), 2);
    AddItems(combo, {"alpha", "beta", "beta"}, True);
    EXPECT_EQ(Int(combo, DtNitemCount), 3);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(FunctionsTest, FieldShowsTheItemAtTheSelectedPositionAfterAdding)
{
    Widget combo = MakeCombo({A(DtNtype, 1)});
    const char* texts[] = {"one", "two", "three"};
    for (int i = 0; i < 3; ++i) {
        Str item(texts[i]);
        ZEBDtComboBoxAddItem(combo, item, i + 1, False);
        EXPECT_EQ(FieldText(combo), "one");
    }
    Str first("zero");
    ZEBDtComboBoxAddItem(combo, first, 1, False);
    EXPECT_EQ(FieldText(combo), "zero");

    Widget read_only = MakeCombo({});
    AddItems(read_only, {"north", "south"});
    EXPECT_EQ(LabelText(read_only), "north");
}

TEST_F(FunctionsTest, EmptyAndMissingItemsLeaveAFieldThatCanBeDrawn)
{
    Str empty("");
    Widget read_only = MakeCombo({A(DtNlabelString, empty.arg())});
    Widget editable = MakeCombo({A(DtNtype, 1)});
    Show();
    for (Widget combo : {read_only, editable}) {
        ZEBDtComboBoxAddItem(combo, empty, 0, False);
        ZEBDtComboBoxAddItem(combo, nullptr, 1, False);
    }
    Process();
    EXPECT_GE(Dim(Child(read_only, "Label"), XmNheight), 1);
    EXPECT_EQ(Int(editable, DtNitemCount), 2);
    EXPECT_EQ(FieldText(editable), "");
    XtVaSetValues(read_only, DtNselectedPosition, 1, nullptr);
    EXPECT_EQ(LabelText(read_only), "");
    EXPECT_TRUE(warnings.empty());
}

TEST_F(FunctionsTest, DeletingKeepsTheSelectionOnTheSameItem)
{
    Widget combo = Editable({"a", "b", "c", "d"});
    Select(combo, "c");
    ZEBDtComboBoxDeletePos(combo, 1);  // before it
    EXPECT_EQ(Int(combo, DtNselectedPosition), 1);
    EXPECT_EQ(FieldText(combo), "c");
    ZEBDtComboBoxDeletePos(combo, 3);  // after it
    EXPECT_EQ(Int(combo, DtNselectedPosition), 1);
    EXPECT_EQ(FieldText(combo), "c");
    EXPECT_EQ(callback_count, 0);
}

TEST_F(FunctionsTest, DeletingTheSelectedItemMovesToItsSuccessorOrTheLast)
{
    Widget combo = Editable({"a", "b", "c", "d"});
    Select(combo, "b");
    ZEBDtComboBoxDeletePos(combo, 2);
    EXPECT_EQ(Int(combo, DtNselectedPosition), 1);
    EXPECT_EQ(FieldText(combo), "c");
    Select(combo, "d");
    ZEBDtComboBoxDeletePos(combo, 0);  // 0 is the last item
    EXPECT_EQ(Int(combo, DtNselectedPosition), 1);
    EXPECT_EQ(FieldText(combo), "c");
    ZEBDtComboBoxDeletePos(combo, 0);
    ZEBDtComboBoxDeletePos(combo, 0);
    EXPECT_EQ(Int(combo, DtNitemCount), 0);
    EXPECT_EQ(Int(combo, DtNselectedPosition), 0);
    EXPECT_EQ(FieldText(combo), "");
}

TEST_F(FunctionsTest, SetItemScrollsTheListButLeavesItsSelection)
{
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNvisibleItemCount, 2)});
    AddItems(combo, {"a", "b", "c", "d", "e"});
    Select(combo, "a");
    Str item("d");
    ZEBDtComboBoxSetItem(combo, item);
    EXPECT_EQ(FieldText(combo), "d");
    EXPECT_EQ(Int(combo, DtNselectedPosition), 3);
    EXPECT_EQ(Int(combo, DtNtopItemPosition), 4);
    EXPECT_EQ(ListSelection(combo), std::vector<int>{1});
    EXPECT_TRUE(warnings.empty());

    Str missing("z");
    ZEBDtComboBoxSetItem(combo, missing);
    EXPECT_EQ(warnings, std::vector<std::string>{kSetWarning});
    EXPECT_EQ(FieldText(combo), "d");
}

TEST_F(FunctionsTest, SelectItemSelectsInTheListWithoutCallbacks)
{
    Widget combo = Editable({"a", "b", "c"});
    Select(combo, "c");
    EXPECT_EQ(FieldText(combo), "c");
    EXPECT_EQ(ListSelection(combo), std::vector<int>{3});
    Select(combo, "z");
    EXPECT_EQ(warnings, std::vector<std::string>{kSelectWarning});
    EXPECT_EQ(FieldText(combo), "c");
    EXPECT_EQ(callback_count, 0);

    // A selectedItem given at creation goes the same way.
    warnings.clear();
    Str b("b"), z("z");
    MakeCombo({A(DtNtype, 1), A(DtNselectedItem, z.arg())});
    EXPECT_EQ(warnings, std::vector<std::string>{kSelectWarning});
}

TEST_F(FunctionsTest, SyntheticResourcesReadTheListAndTheArrow)
{
    Widget combo = Editable({"a", "b", "c"});
    XtVaSetValues(List(combo), XmNlistSpacing, 3, XmNlistMarginWidth, 5,
                  XmNlistMarginHeight, 6, XmNvisibleItemCount, 2, nullptr);
    EXPECT_EQ(Int(combo, DtNitemCount), 3);
    EXPECT_EQ(Dim(combo, DtNlistSpacing), 3);
    EXPECT_EQ(Dim(combo, DtNlistMarginWidth), 5);
    EXPECT_EQ(Dim(combo, DtNlistMarginHeight), 6);
    EXPECT_EQ(Int(combo, DtNvisibleItemCount), 2);
    XmStringTable items = nullptr, list_items = nullptr;
    XtVaGetValues(combo, DtNitems, &items, nullptr);
    XtVaGetValues(List(combo), XmNitems, &list_items, nullptr);
    EXPECT_EQ(items, list_items);

    Dimension arrow_height = Dim(Child(combo, "ComboBoxArrow"), XmNheight);
    EXPECT_EQ(Dim(combo, DtNarrowSize), arrow_height);
    EXPECT_EQ(arrow_height,
              std::max<Dimension>(13, Dim(Child(combo, "Text"), XmNheight)));
}

TEST_F(FunctionsTest, LabelStringIsHandedOutAsACopyTheCallerFrees)
{
    Widget combo = nullptr;
    {
        Str given("Destination");
        combo = MakeCombo({A(DtNlabelString, given.arg())});
    }
    // Each copy is the caller's to free; the widget keeps its own.
    for (int i = 0; i < 5; ++i) {
        XmString copy = nullptr;
        XtVaGetValues(combo, DtNlabelString, &copy, nullptr);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(TextOf(copy), "Destination");
        XmStringFree(copy);
    }
    EXPECT_EQ(LabelText(combo), "Destination");
}

TEST_F(FunctionsTest, ShowingTheFirstSelectionLeavesSharedLabelsAlone)
{
    // A read-only combo created with a selected item shows that item; the
    // label it had before (the shared default, or the caller's string)
    // must survive it.
    Str a("a"), b("b"), caller("Caller");
    XmString items[] = {a, b};
    for (int i = 0; i < 4; ++i) {
        Widget combo = MakeCombo({A(DtNitems, reinterpret_cast<XtArgVal>(items)),
                                  A(DtNitemCount, 2),
                                  A(DtNselectedItem, b.arg()),
                                  A(DtNlabelString, i % 2 ? caller.arg() : 0)});
        EXPECT_EQ(LabelText(combo), "b");
        XtDestroyWidget(combo);
        Process();
    }
    EXPECT_EQ(TextOf(caller), "Caller");
    EXPECT_EQ(LabelText(MakeCombo({})), "ComboBox");
}

TEST_F(FunctionsTest, CreateMakesAnUnmanagedComboWithTheGivenVisual)
{
    Screen* screen = DefaultScreenOfDisplay(dpy);
    ZEBDtInitComboBox(DefaultVisualOfScreen(screen), DefaultDepthOfScreen(screen));
    Arg args[] = {A(DtNtype, 1)};
    Widget combo = ZEBDtCreateComboBox(shell, const_cast<char*>("made"), args, 1);
    ZEBDtInitComboBox(nullptr, 0);
    EXPECT_TRUE(DtIsComboBox(combo));
    EXPECT_FALSE(XtIsManaged(combo));
    EXPECT_EQ(Int(Child(combo, "ComboBoxMenuShell"), XmNdepth),
              DefaultDepthOfScreen(screen));
    EXPECT_NE(Child(combo, "Text"), nullptr);
}
