// Posting the list, choosing from it with the mouse and the keyboard,
// cancelling, and where the list goes on the screen.
#include "ComboFixture.h"

#include <Xm/List.h>
#include <X11/extensions/XTest.h>

#include "TestSupport.h"

namespace {

struct Call {
    std::string name;
    Widget widget;
    int reason;
    bool has_event;
    std::string item;
    int position;
};

std::vector<Call> calls;

void Record(Widget w, XtPointer client_data, XtPointer call_data)
{
    std::string name = static_cast<const char*>(client_data);
    if (name == "activate" || name == "focus" || name == "losingFocus") {
        auto* data = static_cast<XmAnyCallbackStruct*>(call_data);
        calls.push_back({name, w, data->reason, data->event != nullptr, "", 0});
        return;
    }
    auto* data = static_cast<ComboBoxCallbackData*>(call_data);
    bool selection = name == "selection";
    calls.push_back({name, w, data->reason, data->event != nullptr,
                     selection ? TextOf(data->item) : "",
                     selection ? data->item_position : 0});
}

int crossings = 0;

void CountCrossing(Widget, XtPointer, XEvent*, Boolean*)
{
    ++crossings;
}

} // namespace

class PopupTest : public ComboTest {
protected:
    void SetUp() override
    {
        ComboTest::SetUp();
        calls.clear();
    }

    Widget MakeWatched(std::initializer_list<Arg> args)
    {
        Widget combo = MakeCombo(args);
        XtAddCallback(combo, DtNactivateCallback, Record,
                      const_cast<char*>("activate"));
        XtAddCallback(combo, DtNmenuPostCallback, Record,
                      const_cast<char*>("menuPost"));
        XtAddCallback(combo, DtNselectionCallback, Record,
                      const_cast<char*>("selection"));
        return combo;
    }

    void ShowFocused(int x = 100, int y = 100)
    {
        Show(x, y);
        XSetInputFocus(dpy, XtWindow(shell), RevertToParent, CurrentTime);
        Process();
    }

    void ClickArrow(Widget combo)
    {
        ClickWidget(Child(combo, "ComboBoxArrow"));
        Process();
    }

    void Key(KeySym key)
    {
        PressKey(dpy, key);
        Process();
    }

    void AltKey(KeySym key)
    {
        KeyCode alt = XKeysymToKeycode(dpy, XK_Alt_L);
        XTestFakeKeyEvent(dpy, alt, True, CurrentTime);
        PressKey(dpy, key);
        XTestFakeKeyEvent(dpy, alt, False, CurrentTime);
        XSync(dpy, False);
        Process();
    }

    static Widget PopupShell(Widget combo)
    {
        return Child(combo, "ComboBoxMenuShell");
    }

    static Widget List(Widget combo)
    {
        Widget list = nullptr;
        XtVaGetValues(combo, DtNlist, &list, nullptr);
        return list;
    }

    static bool IsUp(Widget combo)
    {
        XWindowAttributes attrs;
        XGetWindowAttributes(dpy, XtWindow(PopupShell(combo)), &attrs);
        Boolean popped_up = False;
        XtVaGetValues(combo, DtNpoppedUp, &popped_up, nullptr);
        EXPECT_EQ(attrs.map_state == IsViewable, popped_up != False);
        return attrs.map_state == IsViewable;
    }

    // The popup's window on the screen, in root coordinates.
    static Geometry ScreenGeometry(Widget combo)
    {
        Window window = XtWindow(PopupShell(combo));
        XWindowAttributes attrs;
        XGetWindowAttributes(dpy, window, &attrs);
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &x,
                              &y, &child);
        return {x, y, attrs.width, attrs.height};
    }

    static void RootOrigin(Widget w, int* x, int* y)
    {
        Position rx = 0, ry = 0;
        XtTranslateCoords(w, 0, 0, &rx, &ry);
        *x = rx;
        *y = ry;
    }

    void ClickItem(Widget combo, int position)
    {
        Position x = 0, y = 0;
        Dimension width = 0, height = 0;
        ASSERT_TRUE(XmListPosToBounds(List(combo), position, &x, &y, &width,
                                      &height));
        Position rx = 0, ry = 0;
        XtTranslateCoords(List(combo), x + width / 2, y + height / 2, &rx,
                          &ry);
        ClickAt(dpy, rx, ry);
        Process();
    }
};

TEST_F(PopupTest, WithoutItemsNothingIsPosted)
{
    Widget read_only = MakeWatched({});
    ShowFocused();
    ClickArrow(read_only);
    EXPECT_FALSE(IsUp(read_only));
    EXPECT_TRUE(calls.empty());
    XtDestroyWidget(read_only);

    // The editable form still reports its (empty) text as an activation.
    Widget editable = MakeWatched({A(DtNtype, 1)});
    Process();
    ClickArrow(editable);
    EXPECT_FALSE(IsUp(editable));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "activate");
}

TEST_F(PopupTest, EditedTextIsReportedOnceBeforeTheListShows)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta"});
    ShowFocused();
    ClickArrow(combo);
    EXPECT_TRUE(IsUp(combo));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "menuPost");
    EXPECT_EQ(calls[0].reason, DtCR_MENU_POST);
    EXPECT_EQ(calls[0].widget, combo);
    EXPECT_FALSE(calls[0].has_event);
    Key(XK_Escape);

    calls.clear();
    TypeText(dpy, "x");
    Process();
    EXPECT_NE(FieldText(combo), "alpha");
    ClickArrow(combo);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "activate");
    EXPECT_EQ(calls[0].reason, XmCR_ACTIVATE);
    EXPECT_EQ(calls[0].widget, combo);
    EXPECT_FALSE(calls[0].has_event);
    EXPECT_EQ(calls[1].name, "menuPost");
    Key(XK_Escape);
}

TEST_F(PopupTest, TextFieldCallbacksArriveFromTheComboBox)
{
    UseColumn();
    Widget combo = MakeWatched({A(DtNtype, 1)});
    XtAddCallback(combo, DtNfocusCallback, Record, const_cast<char*>("focus"));
    XtAddCallback(combo, DtNlosingFocusCallback, Record,
                  const_cast<char*>("losingFocus"));
    Widget other = MakeCombo({A(DtNtype, 1)}, "other");
    ShowFocused();
    Widget text = Child(combo, "Text");
    XmProcessTraversal(text, XmTRAVERSE_CURRENT);
    Process();
    Key(XK_Return);
    XmProcessTraversal(Child(other, "Text"), XmTRAVERSE_CURRENT);
    Process();
    std::vector<std::string> names;
    for (const Call& call : calls) {
        names.push_back(call.name);
        EXPECT_EQ(call.widget, combo) << call.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"focus", "activate",
                                               "losingFocus"}));
}

TEST_F(PopupTest, ListOverlapsTheBottomMarginAndIsAtLeastAsWideAsTheCombo)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"a", "b"});
    ShowFocused();
    Dimension natural_width = Dim(PopupShell(combo), XmNwidth);
    Dimension natural_height = Dim(PopupShell(combo), XmNheight);
    Geometry box = GeometryOf(combo);
    ASSERT_LT(natural_width, box.width);
    ClickArrow(combo);
    Geometry popup = ScreenGeometry(combo);
    int rx = 0, ry = 0;
    RootOrigin(combo, &rx, &ry);
    EXPECT_EQ(popup.x, rx);
    EXPECT_EQ(popup.y, ry + box.height - 2);
    EXPECT_EQ(popup.width, box.width);
    EXPECT_EQ(popup.height, natural_height);
    Key(XK_Escape);
}

TEST_F(PopupTest, ListIsNarrowedAtTheRightScreenEdge)
{
    Widget combo = MakeWatched({A(DtNtype, 1), A(DtNorientation, 0)});
    AddItems(combo, {"/a/rather/long/directory/name/for/the/list"});
    ShowFocused(1280 - 80, 100);
    ASSERT_GT(Dim(PopupShell(combo), XmNwidth), 80);
    ClickArrow(combo);
    int rx = 0, ry = 0;
    RootOrigin(combo, &rx, &ry);
    Geometry popup = ScreenGeometry(combo);
    EXPECT_EQ(popup.x, rx);
    EXPECT_EQ(popup.width, 1280 - rx);
    Key(XK_Escape);
}

// Near the bottom edge the list is shortened while it still shows three
// rows; with less room it goes above the field, whole.
TEST_F(PopupTest, NearTheBottomScreenEdgeTheListShowsThreeRowsAtLeast)
{
    for (int distance : {140, 60}) {
        SCOPED_TRACE(distance);
        SetUp();
        Widget combo = MakeWatched({A(DtNtype, 1)});
        AddItems(combo, {"alpha", "beta", "gamma", "delta", "epsilon", "zeta",
                         "eta", "theta", "iota", "kappa"});
        ShowFocused(100, 1024 - distance);
        Dimension natural_height = Dim(PopupShell(combo), XmNheight);
        ClickArrow(combo);
        int rx = 0, ry = 0;
        RootOrigin(combo, &rx, &ry);
        Geometry popup = ScreenGeometry(combo);
        EXPECT_GE(Int(List(combo), XmNvisibleItemCount), 3);
        EXPECT_LE(popup.y + popup.height, 1024);
        if (distance == 140) {
            EXPECT_EQ(popup.y, ry + GeometryOf(combo).height - 2) << "below the field";
            EXPECT_LT(popup.height, natural_height);
        } else {
            EXPECT_EQ(popup.y + popup.height, ry + 2) << "above the field";
            EXPECT_EQ(popup.height, natural_height);
        }
        Key(XK_Escape);
        TearDown();
    }
    SetUp();
}

// The wheel scrolls the open list, up and down, and leaves it open.
TEST_F(PopupTest, TheWheelScrollsTheOpenList)
{
    Widget combo = MakeWatched({A(DtNtype, 1), A(DtNvisibleItemCount, 3)});
    AddItems(combo, {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta"});
    ShowFocused();
    ClickArrow(combo);
    Geometry popup = ScreenGeometry(combo);
    for (auto [button, top] : {std::pair{5u, 4}, {5u, 5}, {4u, 2}, {4u, 1}}) {
        ClickAt(dpy, popup.x + popup.width / 3, popup.y + popup.height / 2, button);
        Process();
        EXPECT_EQ(Int(List(combo), XmNtopItemPosition), top) << "button " << button;
        EXPECT_TRUE(IsUp(combo));
    }
    EXPECT_TRUE(calls.size() == 1 && calls[0].name == "menuPost") << "no choice made";
    Key(XK_Escape);
}

TEST_F(PopupTest, ClickingAnItemChoosesItOnce)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta", "gamma"});
    ShowFocused();
    ClickArrow(combo);
    calls.clear();
    ClickItem(combo, 2);
    EXPECT_FALSE(IsUp(combo));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "selection");
    EXPECT_EQ(calls[0].reason, DtCR_SELECT);
    EXPECT_EQ(calls[0].widget, List(combo));
    EXPECT_TRUE(calls[0].has_event);
    EXPECT_EQ(calls[0].item, "beta");
    EXPECT_EQ(calls[0].position, 1);
    EXPECT_EQ(FieldText(combo), "beta");
    EXPECT_EQ(Int(combo, DtNselectedPosition), 1);
}

TEST_F(PopupTest, ArrowKeysMoveTheFieldAndReturnChooses)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta", "gamma"});
    ShowFocused();
    ClickArrow(combo);
    calls.clear();
    Key(XK_Down);
    Key(XK_Down);
    EXPECT_TRUE(IsUp(combo));
    EXPECT_EQ(FieldText(combo), "gamma");
    EXPECT_TRUE(calls.empty());
    Key(XK_Return);
    EXPECT_FALSE(IsUp(combo));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "selection");
    EXPECT_EQ(calls[0].position, 2);
    EXPECT_EQ(calls[0].item, "gamma");
}

TEST_F(PopupTest, CancelAndClicksOutsideCloseWithoutChoosing)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta"});
    ShowFocused();
    Widget text = Child(combo, "Text");

    ClickArrow(combo);
    calls.clear();
    Key(XK_Down);
    Key(XK_Escape);
    EXPECT_FALSE(IsUp(combo));
    EXPECT_EQ(XmGetFocusWidget(combo), text);

    ClickArrow(combo);
    ASSERT_TRUE(IsUp(combo));
    calls.clear();
    ClickAt(dpy, 1000, 900);
    Process();
    EXPECT_FALSE(IsUp(combo));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(XmGetFocusWidget(combo), text);

    // The arrow, clicked again, takes the list down too.
    ClickArrow(combo);
    ASSERT_TRUE(IsUp(combo));
    ClickArrow(combo);
    EXPECT_FALSE(IsUp(combo));
    EXPECT_EQ(calls.size(), 1u);  // one menuPost: the second click posts nothing
}

TEST_F(PopupTest, ClickOutsideAfterVisitingTheListChoosesNothing)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta"});
    ShowFocused();
    ClickArrow(combo);
    calls.clear();
    int x = 0, y = 0;
    WidgetCentre(List(combo), &x, &y);
    MovePointer(dpy, x, y);
    Process();
    crossings = 0;
    XtAddEventHandler(List(combo), EnterWindowMask | LeaveWindowMask, False,
                      CountCrossing, nullptr);
    MovePointer(dpy, 1000, 900);
    Process();
    // Leaving the list once is a handful of crossings, not a stream of them.
    EXPECT_LT(crossings, 10);
    ClickAt(dpy, 1000, 900);
    Process();
    EXPECT_FALSE(IsUp(combo));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(FieldText(combo), "alpha");
}

TEST_F(PopupTest, ReadOnlyFieldPostsOnClickAndKeys)
{
    Widget combo = MakeWatched({});
    AddItems(combo, {"alpha", "beta"});
    ShowFocused();
    EXPECT_EQ(LabelText(combo), "alpha");
    ClickWidget(Child(combo, "Label"));
    Process();
    EXPECT_TRUE(IsUp(combo));
    Key(XK_Down);
    Key(XK_Return);
    EXPECT_FALSE(IsUp(combo));
    EXPECT_EQ(LabelText(combo), "beta");

    XmProcessTraversal(combo, XmTRAVERSE_CURRENT);
    Process();
    Key(XK_space);
    EXPECT_TRUE(IsUp(combo));
    Key(XK_Escape);
    EXPECT_FALSE(IsUp(combo));
}

TEST_F(PopupTest, PostingAnOpenListAgainLeavesNoGrabBehind)
{
    UseColumn();
    Widget combo = MakeWatched({A(DtNtype, 1)});
    Widget other = MakeCombo({A(DtNtype, 1)}, "other");
    AddItems(combo, {"alpha", "beta"});
    AddItems(other, {"one", "two"});
    ShowFocused();
    Widget arrow = Child(combo, "ComboBoxArrow");
    XtCallCallbacks(arrow, XmNactivateCallback, nullptr);
    XtCallCallbacks(arrow, XmNactivateCallback, nullptr);
    Process();
    EXPECT_EQ(calls.size(), 1u);  // one menuPost
    Key(XK_Escape);
    EXPECT_FALSE(IsUp(combo));
    // The rest of the application takes input again.
    ClickArrow(other);
    EXPECT_TRUE(IsUp(other));
    Key(XK_Escape);
}

TEST_F(PopupTest, ComboOffTheScreenStillPostsAListOnTheScreen)
{
    // Partly below the bottom edge, and wholly past the right edge.
    const std::pair<int, int> places[] = {{1280 - 60, 1024 - 12},
                                          {1280 + 5, 100}};
    for (auto [x, y] : places) {
        SCOPED_TRACE(x);
        SetUp();
        Widget combo = MakeWatched({A(DtNtype, 1)});
        AddItems(combo, {"alpha", "beta"});
        ShowFocused(x, y);
        XtCallCallbacks(Child(combo, "ComboBoxArrow"), XmNactivateCallback,
                        nullptr);
        Process();
        EXPECT_TRUE(IsUp(combo));
        Geometry popup = ScreenGeometry(combo);
        EXPECT_GE(popup.x, 0);
        EXPECT_GE(popup.width, 1);
        EXPECT_LE(popup.x + popup.width, 1280);
        EXPECT_GE(popup.y, 0);
        EXPECT_GE(popup.height, 1);
        EXPECT_LE(popup.y + popup.height, 1024);
        Key(XK_Escape);
        EXPECT_FALSE(IsUp(combo));
        TearDown();
    }
    SetUp();
}

TEST_F(PopupTest, ListStaysAsWideAsTheComboWhateverTheListAsksForLater)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    XmString lines = XmStringCreateLtoR(const_cast<char*>("a\nb"),
                                        XmFONTLIST_DEFAULT_TAG);
    ZEBDtComboBoxAddItem(combo, lines, 0, False);
    ShowFocused();
    int combo_width = GeometryOf(combo).width;
    ClickArrow(combo);
    ASSERT_TRUE(IsUp(combo));
    EXPECT_EQ(ScreenGeometry(combo).width, combo_width);

    XmString items[] = {lines, lines};
    XtVaSetValues(combo, DtNitems, items, DtNitemCount, 2, nullptr);
    XmStringFree(lines);
    Process();
    EXPECT_TRUE(IsUp(combo));
    EXPECT_EQ(ScreenGeometry(combo).width, combo_width);
    Key(XK_Escape);
}

TEST_F(PopupTest, DownAltDownAndF4InTheFieldPostTheList)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta"});
    ShowFocused();
    Widget text = Child(combo, "Text");
    XmProcessTraversal(text, XmTRAVERSE_CURRENT);
    Process();
    auto expect_posted_then_cancel = [&](const char* keys) {
        SCOPED_TRACE(keys);
        EXPECT_TRUE(IsUp(combo));
        Key(XK_Escape);
        EXPECT_FALSE(IsUp(combo));
        EXPECT_EQ(XmGetFocusWidget(combo), text);
    };
    Key(XK_Down);
    expect_posted_then_cancel("Down");
    AltKey(XK_Down);
    expect_posted_then_cancel("Alt+Down");
    Key(XK_F4);
    expect_posted_then_cancel("F4");
}

TEST_F(PopupTest, EscapeAfterBrowsingRestoresTheFieldAndTheSelection)
{
    Widget combo = MakeWatched({A(DtNtype, 1)});
    AddItems(combo, {"alpha", "beta", "gamma"});
    ShowFocused();
    XmProcessTraversal(Child(combo, "Text"), XmTRAVERSE_CURRENT);
    Process();
    Key(XK_Down);  // posts
    Key(XK_Down);
    Key(XK_Down);
    EXPECT_EQ(FieldText(combo), "gamma");
    Key(XK_Escape);
    EXPECT_EQ(FieldText(combo), "alpha");
    EXPECT_EQ(Int(combo, DtNselectedPosition), 0);
    // Nothing was edited, so posting again reports no activation.
    calls.clear();
    Key(XK_Down);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "menuPost");
    Key(XK_Escape);

    TypeText(dpy, "x");
    Process();
    std::string typed = FieldText(combo);
    Key(XK_Down);  // posts
    Key(XK_Down);
    EXPECT_EQ(FieldText(combo), "beta");
    Key(XK_Escape);
    EXPECT_EQ(FieldText(combo), typed);
    for (const Call& call : calls)
        EXPECT_NE(call.name, "selection");
}

TEST_F(PopupTest, EscapeBringsBackASelectionOutsideTheItems)
{
    Widget combo = MakeWatched({A(DtNtype, 1), A(DtNselectedPosition, -1)});
    AddItems(combo, {"alpha", "beta"});
    ShowFocused();
    XmProcessTraversal(Child(combo, "Text"), XmTRAVERSE_CURRENT);
    Process();
    Key(XK_Down);  // posts
    Key(XK_Down);
    ASSERT_NE(Int(combo, DtNselectedPosition), -1);
    Key(XK_Escape);
    EXPECT_EQ(Int(combo, DtNselectedPosition), -1);
    XmString item = nullptr;
    XtVaGetValues(combo, DtNselectedItem, &item, nullptr);
    EXPECT_EQ(item, nullptr);
}
