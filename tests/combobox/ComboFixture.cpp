#include "ComboFixture.h"

#include <Xm/Label.h>
#include <Xm/RowColumn.h>
#include <Xm/TextF.h>
#include <X11/Shell.h>

#include <cstdlib>

#include "TestSupport.h"

XtAppContext ComboTest::app = nullptr;
Display* ComboTest::dpy = nullptr;
std::vector<std::string> ComboTest::warnings;
std::vector<int> ComboTest::x_errors;

void ComboTest::CollectWarning(String message)
{
    warnings.emplace_back(message);
}

int ComboTest::CountXError(Display*, XErrorEvent* error)
{
    x_errors.push_back(error->request_code);
    return 0;
}

void ComboTest::SetUpTestSuite()
{
    if (app)
        return;
    XtToolkitInitialize();
    app = XtCreateApplicationContext();
    XtAppSetWarningHandler(app, CollectWarning);
    XSetErrorHandler(CountXError);
    int argc = 0;
    dpy = XtOpenDisplay(app, nullptr, "combotest", "ComboTest", nullptr, 0,
                        &argc, nullptr);
    if (!dpy) {
        std::fprintf(stderr, "combo box tests need an X display\n");
        std::exit(1);
    }
}

void ComboTest::SetUp()
{
    warnings.clear();
    x_errors.clear();
    column = nullptr;
    shell = XtVaAppCreateShell("combotest", "ComboTest",
                               applicationShellWidgetClass, dpy,
                               XmNallowShellResize, True, nullptr);
}

void ComboTest::TearDown()
{
    XtDestroyWidget(shell);
    Process();
    XSync(dpy, False);
    EXPECT_TRUE(x_errors.empty()) << "request code " << x_errors.front();
}

Widget ComboTest::MakeCombo(std::initializer_list<Arg> args, const char* name)
{
    std::vector<Arg> list(args);
    return XtCreateManagedWidget(name, dtComboBoxWidgetClass,
                                 column ? column : shell, list.data(),
                                 list.size());
}

void ComboTest::UseColumn()
{
    column = XtVaCreateManagedWidget("column", xmRowColumnWidgetClass, shell,
                                     nullptr);
}

void ComboTest::Show(int x, int y)
{
    XtVaSetValues(shell, XmNx, x, XmNy, y, nullptr);
    XtRealizeWidget(shell);
    XtMapWidget(shell);
    Process();
}

void ComboTest::Process()
{
    ProcessUntilIdle(app);
}

void ComboTest::AddItems(Widget combo,
                         std::initializer_list<const char*> texts,
                         Boolean unique)
{
    for (const char* text : texts) {
        Str item(text);
        ZEBDtComboBoxAddItem(combo, item, 0, unique);
    }
}

std::string TextOf(XmString string)
{
    char* text = nullptr;
    if (!string || !XmStringGetLtoR(string, XmFONTLIST_DEFAULT_TAG, &text))
        return "";
    std::string result(text);
    XtFree(text);
    return result;
}

std::string ComboTest::FieldText(Widget combo)
{
    Widget text = nullptr;
    XtVaGetValues(combo, DtNtextField, &text, nullptr);
    char* value = XmTextFieldGetString(text);
    std::string result(value);
    XtFree(value);
    return result;
}

std::string ComboTest::LabelText(Widget combo)
{
    XmString label = nullptr;
    XtVaGetValues(Child(combo, "Label"), XmNlabelString, &label, nullptr);
    std::string result = TextOf(label);
    XmStringFree(label);
    return result;
}

Widget ComboTest::Child(Widget combo, const char* name)
{
    return XtNameToWidget(combo, name);
}

int ComboTest::Int(Widget w, const char* resource)
{
    int value = 0;
    XtVaGetValues(w, resource, &value, nullptr);
    return value;
}

Dimension ComboTest::Dim(Widget w, const char* resource)
{
    Dimension value = 0;
    XtVaGetValues(w, resource, &value, nullptr);
    return value;
}

Geometry ComboTest::GeometryOf(Widget w)
{
    Position x = 0, y = 0;
    Dimension width = 0, height = 0;
    XtVaGetValues(w, XmNx, &x, XmNy, &y, XmNwidth, &width, XmNheight, &height,
                  nullptr);
    return {x, y, width, height};
}

unsigned long ComboTest::PixelAt(Widget w, int x, int y)
{
    XImage* image = XGetImage(XtDisplay(w), XtWindow(w), x, y, 1, 1, AllPlanes,
                              ZPixmap);
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

std::string ComboTest::ScreenshotPath(const std::string& name)
{
    return std::string(SCREENSHOT_DIR) + "/" + name + ".png";
}
