// Shared fixture of the combo box tests: one application context for the
// process, a fresh top-level shell for each test, the toolkit's warnings
// collected instead of printed, and X protocol errors counted as failures
// instead of ending the process.
#pragma once

#include <gtest/gtest.h>

#include <X11/Intrinsic.h>
#include <Xm/Xm.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "ComboBox.h"

// The text of a compound string ("" for none).
std::string TextOf(XmString string);

struct Geometry {
    int x, y, width, height;
};

class ComboTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();

    void SetUp() override;
    void TearDown() override;

    // A combo box in the test's shell (or in its column, once made), made
    // with the given arguments.
    Widget MakeCombo(std::initializer_list<Arg> args,
                     const char* name = "combo");

    // A vertical RowColumn in the shell that holds the combo boxes made
    // after it, for tests that show more than one.
    void UseColumn();

    // Realizes and maps the shell at (x, y) and waits until it is shown.
    void Show(int x = 100, int y = 100);

    void Process();

    // Adds plain strings at the end of the list.
    void AddItems(Widget combo, std::initializer_list<const char*> texts,
                  Boolean unique = False);

    static std::string FieldText(Widget combo);
    static std::string LabelText(Widget combo);
    static Widget Child(Widget combo, const char* name);
    static int Int(Widget w, const char* resource);
    static Dimension Dim(Widget w, const char* resource);
    static Geometry GeometryOf(Widget w);
    static unsigned long PixelAt(Widget w, int x, int y);

    // Writes a screenshot under the build tree's screenshots/combobox.
    static std::string ScreenshotPath(const std::string& name);

    static void CollectWarning(String message);
    static int CountXError(Display*, XErrorEvent* error);

    static XtAppContext app;
    static Display* dpy;
    static std::vector<std::string> warnings;
    // Protocol errors caused by the widget; every test expects none.
    static std::vector<int> x_errors;
    Widget shell = nullptr;
    Widget column = nullptr;
};

// An Arg for an initializer list.
inline Arg A(const char* name, XtArgVal value)
{
    Arg arg;
    arg.name = const_cast<String>(name);
    arg.value = value;
    return arg;
}

// A compound string that frees itself.
class Str {
public:
    explicit Str(const char* text)
        : string_(XmStringCreateLocalized(const_cast<char*>(text))) {}
    ~Str() { XmStringFree(string_); }
    Str(const Str&) = delete;
    Str& operator=(const Str&) = delete;
    operator XmString() const { return string_; }
    XtArgVal arg() const { return reinterpret_cast<XtArgVal>(string_); }

private:
    XmString string_;
};
