// The wizard window: the logo, the three pages stacked in one form, the
// invisible popup menu that carries the keyboard accelerators, and the error
// dialog.  Everything is built once, under the already realized shell,
// before the window is first mapped.
#include "state.h"

#include "ComboBox.h"

#include <Xm/DrawingA.h>
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/ScrolledW.h>
#include <Xm/Separator.h>
#include <Xm/Text.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrender.h>
#include <X11/xpm.h>

#include <unistd.h>

#include <algorithm>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

#include "logo.xpm"

extern const char licenceText[];  // generated from assets/licence.txt

namespace {

Pixmap logoPixmap = XmUNSPECIFIED_PIXMAP;

const char kTopCaption[] =
    "Installation and use of the Ovelo 8 requires\n"
    "acceptance of the following terms and conditions:";
const char kBottomCaption[] =
    "Click \"Accept\" to accept the terms of the license agreement\n"
    "and continue with the Ovelo 8 Setup program.";

// The rule sits this far below the logo; a caption below the logo keeps
// above it.
constexpr int kSeparatorGap = 40;

// The logo at the display's scale, smoothed by the server (bilinear, the
// edges padded).  A server without the RENDER extension keeps it as drawn.
Pixmap ScaledPixmap(Pixmap source)
{
    Display* display = XtDisplay(toplevel);
    Window root = None;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    // No format without the extension.
    XRenderPictFormat* format = XRenderFindVisualFormat(display, XtScreen(toplevel)->root_visual);
    if (!format || !XGetGeometry(display, source, &root, &x, &y, &width, &height, &border, &depth))
        return source;
    const unsigned scaledWidth = Scaled(width), scaledHeight = Scaled(height);
    const Pixmap scaled = XCreatePixmap(display, XtWindow(toplevel), scaledWidth, scaledHeight,
                                        depth);
    XRenderPictureAttributes padded{};
    padded.repeat = RepeatPad;
    const Picture from = XRenderCreatePicture(display, source, format, CPRepeat, &padded);
    const Picture to = XRenderCreatePicture(display, scaled, format, 0, nullptr);
    const XFixed shrink = XDoubleToFixed(1 / fScale);
    XTransform transform = {{{shrink, 0, 0}, {0, shrink, 0}, {0, 0, XDoubleToFixed(1)}}};
    XRenderSetPictureTransform(display, from, &transform);
    XRenderSetPictureFilter(display, from, const_cast<char*>(FilterBilinear), nullptr, 0);
    XRenderComposite(display, PictOpSrc, from, None, to, 0, 0, 0, 0, 0, 0, scaledWidth,
                     scaledHeight);
    XRenderFreePicture(display, from);
    XRenderFreePicture(display, to);
    XFreePixmap(display, source);
    return scaled;
}

// Colours the server cannot give exactly are replaced by the nearest it has.
void CreateLogoPixmap()
{
    XpmAttributes attributes{};
    attributes.valuemask = XpmCloseness;
    attributes.closeness = 65536;
    if (XpmCreatePixmapFromData(XtDisplay(toplevel), XtWindow(toplevel),
                                const_cast<char**>(ovelo_logo), &logoPixmap,
                                nullptr, &attributes) == XpmSuccess &&
        fScale != 1.0f)
        logoPixmap = ScaledPixmap(logoPixmap);
}

// The menu is never posted; its five items exist for their accelerators,
// which act anywhere inside placeholder.  The item index is the client data.
void CreateAcceleratorMenu()
{
    static char keys[][16] = {"<Key>Return", "<Key>C", "<Key>B", "<Key>A", "<Key>F"};
    const XmString noLabel = nullptr;
    const KeySym noMnemonic = NoSymbol;
    dummypopup = XmVaCreateSimplePopupMenu(
        placeholder, const_cast<char*>("dummypopup"), AcceleratorDispatch,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[0], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[1], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[2], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[3], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[4], noLabel,
        nullptr);
}

// A page form fills placeholder less 2 pixels on every side.
Widget CreatePage(const char* name, bool managed)
{
    Widget form = XtVaCreateWidget(
        name, xmFormWidgetClass, placeholder,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, Scaled(2),
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, Scaled(2),
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(2),
        XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, Scaled(2), nullptr);
    if (managed)
        XtManageChild(form);
    return form;
}

Widget CreateLogo(const char* name, Widget page)
{
    return XtVaCreateManagedWidget(
        name, xmLabelWidgetClass, page,
        XmNlabelType, XmPIXMAP, XmNlabelPixmap, logoPixmap,
        XmNmarginWidth, 0, XmNmarginHeight, 0,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, Scaled(10),
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, Scaled(10), nullptr);
}

// A caption label beside the logo; further attachments follow in code.
Widget CreateCaption(const char* name, Widget page, Widget logo, const char* text)
{
    XmString label = XmStringCreateLtoR(const_cast<char*>(text),
                                        const_cast<char*>(XmSTRING_DEFAULT_CHARSET));
    Widget caption = XtVaCreateManagedWidget(
        name, xmLabelWidgetClass, page,
        XmNlabelString, label, XmNalignment, XmALIGNMENT_BEGINNING,
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, logo,
        XmNleftOffset, Scaled(10), nullptr);
    XmStringFree(label);
    return caption;
}

// The rule 40 pixels below the logo and the button row 10 pixels below it.
void CreateButtonRow(const char* separatorName, const char* rowName, Widget page,
                     Widget logo, Widget* separator, Widget* row)
{
    *separator = XtVaCreateManagedWidget(
        separatorName, xmSeparatorWidgetClass, page,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, Scaled(10),
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, logo,
        XmNtopOffset, Scaled(kSeparatorGap),
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(10), nullptr);
    *row = XtVaCreateManagedWidget(
        rowName, xmFormWidgetClass, page,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, *separator,
        XmNtopOffset, Scaled(10),
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(10),
        XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, Scaled(10),
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, Scaled(10), nullptr);
}

// The named lengths of w, which the resources and the toolkit give in
// pixels of the 96 dpi layout, scaled in one request.
void ScaleLengths(Widget w, std::initializer_list<String> names)
{
    std::vector<Dimension> lengths(names.size());
    std::vector<Arg> args(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        XtSetArg(args[i], names.begin()[i], &lengths[i]);
    XtGetValues(w, args.data(), args.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        XtSetArg(args[i], names.begin()[i], Scaled(lengths[i]));
    XtSetValues(w, args.data(), args.size());
}

// A button's lengths change in one request, which it would otherwise
// answer by taking its label's width.  It is never narrower than its
// label, in whatever font it has.
void SizeButton(Widget button)
{
    Dimension width = 0;
    XtVaGetValues(button, XmNwidth, &width, nullptr);
    ScaleLengths(button, {XmNwidth, XmNmarginHeight, XmNshadowThickness, XmNhighlightThickness});
    XtWidgetGeometry natural{};
    XtQueryGeometry(button, nullptr, &natural);
    XtVaSetValues(button, XmNwidth, std::max<int>(Scaled(width), natural.width), nullptr);
}

// Buttons are placed from the right: the rightmost against the row's edge,
// each further one against its right-hand neighbour.
Widget CreateButton(const char* name, Widget row, Widget rightNeighbour, int gap)
{
    Widget button = nullptr;
    if (!rightNeighbour)
        button = XtVaCreateManagedWidget(
            name, xmPushButtonWidgetClass, row,
            XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(gap),
            XmNtopAttachment, XmATTACH_FORM, nullptr);
    else
        button = XtVaCreateManagedWidget(
            name, xmPushButtonWidgetClass, row,
            XmNrightAttachment, XmATTACH_WIDGET, XmNrightWidget, rightNeighbour,
            XmNrightOffset, Scaled(gap), XmNtopAttachment, XmATTACH_FORM, nullptr);
    SizeButton(button);
    return button;
}

// Read-only, no insertion cursor, vertical scroll bar only; it fills the
// space between the two captions.
void CreateLicenceView()
{
    page1license = XmCreateScrolledText(page1form, const_cast<char*>("page1license"),
                                        nullptr, 0);
    XtVaSetValues(page1license, XmNeditable, False, XmNeditMode, XmMULTI_LINE_EDIT,
                  XmNcursorPositionVisible, False, nullptr);
    XmTextSetString(page1license, const_cast<char*>(licenceText));

    page1scrolledwindow = XtParent(page1license);
    Widget horizontal = nullptr;
    Widget vertical = nullptr;
    XtVaGetValues(page1scrolledwindow, XmNhorizontalScrollBar, &horizontal, nullptr);
    if (horizontal)
        XtUnmanageChild(horizontal);
    XtVaGetValues(page1scrolledwindow, XmNverticalScrollBar, &vertical, nullptr);
    if (vertical)
        ScaleLengths(vertical, {XmNwidth});
    XtVaSetValues(page1scrolledwindow,
                  XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page1logo,
                  XmNleftOffset, Scaled(10),
                  XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, page1toplabel,
                  XmNrightAttachment, XmATTACH_OPPOSITE_WIDGET,
                  XmNrightWidget, page1bottomlabel,
                  XmNbottomAttachment, XmATTACH_WIDGET,
                  XmNbottomWidget, page1bottomlabel, nullptr);
    XtManageChild(page1scrolledwindow);
    XtManageChild(page1license);
    if (vertical)
        XtManageChild(vertical);
}

void BuildLicencePage()
{
    page1form = CreatePage("page1form", true);
    page1logo = CreateLogo("page1logo", page1form);
    page1toplabel = CreateCaption("page1toplabel", page1form, page1logo, kTopCaption);
    XtVaSetValues(page1toplabel,
                  XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, Scaled(10),
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(10), nullptr);
    page1bottomlabel = CreateCaption("page1bottomlabel", page1form, page1logo,
                                     kBottomCaption);
    XtVaSetValues(page1bottomlabel,
                  XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, page1logo,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(15), nullptr);
    CreateLicenceView();

    CreateButtonRow("page1separator", "page1buttons", page1form, page1logo,
                    &page1separator, &page1buttons);
    page1finish = CreateButton("page1finish", page1buttons, nullptr, 10);
    XtVaSetValues(page1finish, XmNsensitive, False, nullptr);
    page1accept = CreateButton("page1accept", page1buttons, page1finish, 20);
    XmProcessTraversal(page1accept, XmTRAVERSE_CURRENT);
    page1back = CreateButton("page1back", page1buttons, page1accept, 0);
    page1cancel = CreateButton("page1cancel", page1buttons, page1back, 20);
    page1default = page1accept;
}

void AddChoice(const std::string& text, int position)
{
    XmString item = XmStringCreateLtoR(const_cast<char*>(text.c_str()),
                                       const_cast<char*>(XmSTRING_DEFAULT_CHARSET));
    ZEBDtComboBoxAddItem(page2dircombobox, item, position, True);
    XmStringFree(item);
}

// The destinations offered, at list positions 1, 2 and 3 (fewer when one
// is left out).
void AddDestinationChoices()
{
    int position = 0;
    for (const std::string& choice : DestinationChoices())
        AddChoice(choice, ++position);
}

void BuildDestinationPage()
{
    page2form = CreatePage("page2form", false);
    page2logo = CreateLogo("page2logo", page2form);
    page2frame1 = XtVaCreateManagedWidget(
        "page2frame1", xmFrameWidgetClass, page2form,
        XmNmarginHeight, Scaled(7), XmNmarginWidth, Scaled(7),
        XmNshadowType, XmSHADOW_ETCHED_IN, XmNheight, Scaled(45),
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page2logo,
        XmNleftOffset, Scaled(10),
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, Scaled(20),
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(10), nullptr);

    Display* display = XtDisplay(toplevel);
    const int screen = XDefaultScreen(display);
    ZEBDtInitComboBox(XDefaultVisual(display, screen), XDefaultDepth(display, screen));
    page2dircombobox = XtVaCreateManagedWidget(
        "page2dircombobox", dtComboBoxWidgetClass, page2frame1,
        DtNtype, DtCOMBO_EDITABLE, DtNarrowType, DtCOMBO_ARROW_BUTTON, nullptr);
    AddDestinationChoices();

    page2dirlabel = XtVaCreateManagedWidget(
        "page2dirlabel", xmLabelWidgetClass, page2form,
        XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, page2frame1,
        XmNtopOffset, Scaled(-10),
        XmNleftAttachment, XmATTACH_OPPOSITE_WIDGET, XmNleftWidget, page2frame1,
        XmNleftOffset, Scaled(5), nullptr);
    CreateButtonRow("page2separator", "page2buttons", page2form, page2logo,
                    &page2separator, &page2buttons);
    page2finish = CreateButton("page2finish", page2buttons, nullptr, 10);
    page2next = CreateButton("page2next", page2buttons, page2finish, 20);
    page2back = CreateButton("page2back", page2buttons, page2next, 0);
    page2cancel = CreateButton("page2cancel", page2buttons, page2back, 20);
    page2default = page2finish;
}

void BuildProgressPage()
{
    page3form = CreatePage("page3form", false);
    page3logo = CreateLogo("page3logo", page3form);
    page3progresslabel = XtVaCreateManagedWidget(
        "page3progresslabel", xmLabelWidgetClass, page3form,
        XmNalignment, XmALIGNMENT_BEGINNING,
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page3logo,
        XmNleftOffset, Scaled(10),
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, Scaled(10), nullptr);
    page3progressframe = XtVaCreateManagedWidget(
        "page3progressframe", xmFrameWidgetClass, page3form,
        XmNshadowType, XmSHADOW_IN, XmNshadowThickness, 1,
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page3logo,
        XmNleftOffset, Scaled(10),
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, page3progresslabel,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, Scaled(10), nullptr);
    page3progressbar = XtVaCreateManagedWidget(
        "page3progressbar", xmDrawingAreaWidgetClass, page3progressframe, nullptr);
    ScaleLengths(page3progressbar, {XmNheight});
}

// Where text may be broken into lines no wider than room in a label's
// fonts: between words, and inside a word wider than room after a slash
// or, failing that, between characters.
class LineBreaker {
public:
    LineBreaker(XmFontList fonts, int room) : fonts_(fonts), room_(room) {}

    std::string Wrap(const std::string& text)
    {
        std::string wrapped;
        std::size_t start = 0;
        for (std::size_t end = 0; end <= text.size(); ++end) {
            if (end < text.size() && text[end] != '\n')
                continue;
            wrapped += WrapLine(text.substr(start, end - start));
            if (end < text.size())
                wrapped += "\n";
            start = end + 1;
        }
        return wrapped;
    }

private:
    struct Piece {
        std::string text;
        bool afterBlank;
    };

    int Width(const std::string& line) const
    {
        XmString string = XmStringCreateLocalized(const_cast<char*>(line.c_str()));
        const int pixels = XmStringWidth(fonts_, string);
        XmStringFree(string);
        return pixels;
    }

    std::string WrapLine(const std::string& line) const
    {
        std::string wrapped;
        std::string current;
        for (const Piece& piece : Pieces(line)) {
            const std::string longer =
                current + (piece.afterBlank && !current.empty() ? " " : "") + piece.text;
            if (!current.empty() && Width(longer) > room_) {
                wrapped += current + "\n";
                current = piece.text;
            } else {
                current = longer;
            }
        }
        return wrapped + current;
    }

    // The line's leading blanks stay with its first word, so that an
    // indented line (a path under its list's heading) keeps its indentation.
    std::vector<Piece> Pieces(const std::string& line) const
    {
        std::vector<Piece> pieces;
        std::size_t start = 0;
        for (std::size_t end = std::min(line.find_first_not_of(' '), line.size());
             end <= line.size(); ++end) {
            if (end < line.size() && line[end] != ' ')
                continue;
            const std::string word = line.substr(start, end - start);
            if (Width(word) <= room_)
                pieces.push_back({word, true});
            else
                SplitWord(word, pieces);
            start = end + 1;
        }
        return pieces;
    }

    // The parts of a word too wide for a line: each ends after a slash, and
    // a part still too wide is cut between characters of the locale.
    void SplitWord(const std::string& word, std::vector<Piece>& pieces) const
    {
        bool first = true;
        std::size_t start = 0;
        while (start < word.size()) {
            std::size_t slash = word.find('/', start);
            const std::size_t end = slash == std::string::npos ? word.size() : slash + 1;
            std::string part;
            for (std::size_t at = start; at < end;) {
                const std::size_t length = CharacterLength(word, at);
                const std::string longer = part + word.substr(at, length);
                if (!part.empty() && Width(longer) > room_) {
                    pieces.push_back({part, first});
                    first = false;
                    part = word.substr(at, length);
                } else {
                    part = longer;
                }
                at += length;
            }
            pieces.push_back({part, first});
            first = false;
            start = end;
        }
    }

    static std::size_t CharacterLength(const std::string& text, std::size_t at)
    {
        std::mbstate_t state{};
        const std::size_t length = std::mbrlen(text.data() + at, text.size() - at, &state);
        return length == 0 || length > text.size() - at ? 1 : length;
    }

    XmFontList fonts_;
    int room_;
};

// The room for text in a label of the given width: less its margins.
int TextRoom(Widget label, int width)
{
    Dimension marginWidth = 0, marginLeft = 0, marginRight = 0, highlight = 0, shadow = 0;
    XtVaGetValues(label, XmNmarginWidth, &marginWidth, XmNmarginLeft, &marginLeft,
                  XmNmarginRight, &marginRight, XmNhighlightThickness, &highlight,
                  XmNshadowThickness, &shadow, nullptr);
    return width - 2 * (marginWidth + highlight + shadow) - marginLeft - marginRight;
}

// The captions are as wide as their attachments make them.  In a font
// wider than Helvetica (the server's built-in "fixed", say) a line would
// be cut off at the right: it is broken between words instead.
void FitCaption(Widget label, const char* text)
{
    XmFontList fonts = nullptr;
    Dimension width = 0;
    XtVaGetValues(label, XmNfontList, &fonts, XmNwidth, &width, nullptr);
    const std::string wrapped = LineBreaker(fonts, TextRoom(label, width)).Wrap(text);
    if (wrapped != text)
        SetLabelText(label, XmNlabelString, wrapped);
}

// A caption under the logo that needs more lines than there is room for
// above the rule is moved up over the licence, which gives way to it.
void KeepCaptionAboveSeparator(Widget caption)
{
    Dimension height = 0;
    XtVaGetValues(caption, XmNheight, &height, nullptr);
    const int room = Scaled(kSeparatorGap);
    if (height > room)
        XtVaSetValues(caption, XmNtopOffset, room - height, nullptr);
}

// The start of a length centred over another, moved in from the screen's
// edges where it would pass them.
int Centred(int over, int overLength, int length, int screenLength)
{
    return std::max(0, std::min(over + (overLength - length) / 2, screenLength - length));
}

// The text of a compound string, a newline for each line break in it
// (XmStringGetLtoR would give only its first line).
std::string TextOf(XmString string)
{
    std::string text;
    XmStringContext context = nullptr;
    if (!XmStringInitContext(&context, string))
        return text;
    XmStringComponentType type = XmSTRING_COMPONENT_UNKNOWN;
    do {
        unsigned int length = 0;
        XtPointer value = nullptr;
        type = XmStringGetNextTriple(context, &length, &value);
        if (type == XmSTRING_COMPONENT_TEXT || type == XmSTRING_COMPONENT_LOCALE_TEXT)
            text.append(static_cast<const char*>(value), length);
        else if (type == XmSTRING_COMPONENT_SEPARATOR)
            text += '\n';
        XtFree(static_cast<char*>(value));
    } while (type != XmSTRING_COMPONENT_END && type != XmSTRING_COMPONENT_UNKNOWN);
    XmStringFreeContext(context);
    return text;
}

// A message wider than the screen leaves the dialog too wide to be seen
// whole: its lines are broken to the screen's width, less the dialog's
// frame around the message.
void FitMessageToScreen(Widget dialog)
{
    Widget label = XmMessageBoxGetChild(dialog, XmDIALOG_MESSAGE_LABEL);
    Dimension dialogWidth = 0, labelWidth = 0;
    XmFontList fonts = nullptr;
    XtVaGetValues(dialog, XmNwidth, &dialogWidth, nullptr);
    XtVaGetValues(label, XmNwidth, &labelWidth, XmNfontList, &fonts, nullptr);
    const int room = WidthOfScreen(XtScreen(dialog)) - (dialogWidth - labelWidth);
    if (labelWidth <= room)
        return;
    XmString message = nullptr;
    XtVaGetValues(dialog, XmNmessageString, &message, nullptr);  // a copy
    if (!message)
        return;
    const std::string text = TextOf(message);
    XmStringFree(message);
    SetLabelText(dialog, XmNmessageString, LineBreaker(fonts, TextRoom(label, room)).Wrap(text));
}

// Window managers keep the focus on a dialog marked modal, and with it
// Return and Escape; the transient hint alone only ties it to the wizard.
// The mark goes on before every showing: a window manager may take it off
// a window it has seen withdrawn.
void MarkModal(Widget shell)
{
    if (!XtIsRealized(shell))
        XtRealizeWidget(shell);
    Display* display = XtDisplay(shell);
    const Atom modal = XInternAtom(display, "_NET_WM_STATE_MODAL", False);
    XChangeProperty(display, XtWindow(shell), XInternAtom(display, "_NET_WM_STATE", False),
                    XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&modal),
                    1);
}

// Called as the dialog is about to be shown, already sized to its message:
// it goes over the middle of the wizard, on the screen.  The toolkit's own
// placement centres only the first message and keeps that x for every
// later one, whatever its width.
void ShowDialogOverWizard(Widget dialog, XtPointer, XtPointer)
{
    FitMessageToScreen(dialog);
    Position x = 0;
    Position y = 0;
    XtTranslateCoords(toplevel, 0, 0, &x, &y);
    Dimension wizardWidth = 0, wizardHeight = 0, width = 0, height = 0;
    XtVaGetValues(toplevel, XmNwidth, &wizardWidth, XmNheight, &wizardHeight, nullptr);
    XtVaGetValues(dialog, XmNwidth, &width, XmNheight, &height, nullptr);
    Screen* screen = XtScreen(toplevel);
    XtVaSetValues(dialog,
                  XmNx, static_cast<Position>(Centred(x, wizardWidth, width,
                                                      WidthOfScreen(screen))),
                  XmNy, static_cast<Position>(Centred(y, wizardHeight, height,
                                                      HeightOfScreen(screen))),
                  nullptr);
    MarkModal(XtParent(dialog));
}

// Only OK remains; it takes the dialog down through the message box's own
// unmanaging.  Full-application modal: the wizard waits while it is up.
void BuildErrorDialog()
{
    ErrorDialog = XmCreateErrorDialog(toplevel, const_cast<char*>("ErrorDialog"),
                                      nullptr, 0);
    XtVaSetValues(XtParent(ErrorDialog), XmNtitle, "Error", nullptr);
    XtVaSetValues(ErrorDialog, XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL,
                  XmNnoResize, True, XmNdefaultPosition, False, nullptr);
    XtAddCallback(ErrorDialog, XmNmapCallback, ShowDialogOverWizard, nullptr);
    XtUnmanageChild(XmMessageBoxGetChild(ErrorDialog, XmDIALOG_HELP_BUTTON));
    XtUnmanageChild(XmMessageBoxGetChild(ErrorDialog, XmDIALOG_CANCEL_BUTTON));
}

// The toolkit's lines (shadows, focus highlights) are drawn for 96 dpi
// too: scaled with the rest, in every widget of the window and its dialog
// but the buttons of the rows, sized on their own, and the combo box,
// which lays itself out from its fonts.
void ScaleToolkitLines(Widget w)
{
    if (w == page2dircombobox || w == page1buttons || w == page2buttons)
        return;
    if (XmIsManager(w))
        ScaleLengths(w, {XmNshadowThickness});
    else if (XmIsPrimitive(w) || XmIsGadget(w))
        ScaleLengths(w, {XmNshadowThickness, XmNhighlightThickness});
    if (!XtIsComposite(w))
        return;
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(w, XmNchildren, &children, XmNnumChildren, &count, nullptr);
    const std::vector<Widget> each(children, children + count);
    for (Widget child : each)
        ScaleToolkitLines(child);
}

// Minimum and maximum size equal to the size the window is built at: no
// window manager then offers maximizing or resizing, which would stretch
// the button rows.  The decorations alone do not tell every manager so.
void HoldShellSize()
{
    Dimension width = 0;
    Dimension height = 0;
    XtVaGetValues(toplevel, XmNwidth, &width, XmNheight, &height, nullptr);
    XtVaSetValues(toplevel, XmNminWidth, width, XmNmaxWidth, width,
                  XmNminHeight, height, XmNmaxHeight, height, nullptr);
}

// Tab follows the screen, not the order the widgets were made in (the
// button rows are built from the right): the page's content, its default
// button, then the other buttons from left to right, and round again.
// Each is a tab group of its own, so that Tab reaches every button;
// insensitive ones are passed over.
void OrderTabGroups()
{
    const Widget order[] = {page1license, page1accept, page1cancel, page1back, page1finish,
                            page2dircombobox, page2finish, page2cancel, page2back, page2next};
    for (Widget w : order)
        XtVaSetValues(w, XmNnavigationType, XmEXCLUSIVE_TAB_GROUP, nullptr);
}

// The icon shows what the title says, not the file's name.
void NameIconAfterTitle()
{
    String title = nullptr;
    XtVaGetValues(toplevel, XmNtitle, &title, nullptr);
    if (title)
        XtVaSetValues(toplevel, XmNiconName, title, nullptr);
}

// Lets a window manager tie the window to our process (to end it when it
// stops answering, say).
void SetProcessIdProperty()
{
    Display* display = XtDisplay(toplevel);
    const long pid = getpid();
    XChangeProperty(display, XtWindow(toplevel), XInternAtom(display, "_NET_WM_PID", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
}

// The toolkit marks the shell's position as chosen by the program once it
// has been sized, which holds the window at 0,0 under a window manager that
// honours the mark.  Only a position the user gave (-geometry) is kept.
void LeavePlacementToWindowManager()
{
    Display* display = XtDisplay(toplevel);
    XSizeHints hints{};
    long supplied = 0;
    if (!XGetWMNormalHints(display, XtWindow(toplevel), &hints, &supplied))
        return;
    if (!(hints.flags & USPosition))
        hints.flags &= ~PPosition;
    XSetWMNormalHints(display, XtWindow(toplevel), &hints);
}

}  // namespace

void SetLabelText(Widget label, const char* resource, const std::string& text)
{
    XmString string = XmStringCreateLtoR(const_cast<char*>(text.c_str()),
                                         const_cast<char*>(XmFONTLIST_DEFAULT_TAG));
    XtVaSetValues(label, resource, string, nullptr);
    XmStringFree(string);
}

// Last, so that no later change to the shell brings the position back.
void PrepareWindowForMapping()
{
    NameIconAfterTitle();
    SetProcessIdProperty();
    LeavePlacementToWindowManager();
}

void BuildWindow()
{
    ScaleLengths(toplevel, {XmNwidth, XmNheight});  // the shell's, from the resources
    CreateLogoPixmap();
    placeholder = XtVaCreateManagedWidget("placeholder", xmFormWidgetClass, toplevel,
                                          nullptr);
    CreateAcceleratorMenu();
    BuildLicencePage();
    BuildDestinationPage();
    BuildProgressPage();
    BuildErrorDialog();
    if (fScale != 1.0f) {
        ScaleToolkitLines(placeholder);
        ScaleToolkitLines(XtParent(ErrorDialog));
    }
    OrderTabGroups();
    HoldShellSize();
    FitCaption(page1toplabel, kTopCaption);
    FitCaption(page1bottomlabel, kBottomCaption);
    KeepCaptionAboveSeparator(page1bottomlabel);
}

// The graphics context the progress bar is painted with, and the server's
// font for the percentage where fontconfig has none.  A server without
// Helvetica (one with its built-in fonts only) still has "fixed", whose
// measures centre the percentage as well.
void CreateProgressGraphics()
{
    Display* display = XtDisplay(toplevel);
    progressGC = XCreateGC(display, XtWindow(toplevel), 0, nullptr);
    if (pPercentFont)
        return;
    pProgressFont = XLoadQueryFont(display, "-adobe-helvetica-medium-r-normal-*-14-*-*-*-*-*-*-*");
    if (!pProgressFont)
        pProgressFont = XLoadQueryFont(display, "fixed");
    if (pProgressFont)
        XSetFont(display, progressGC, pProgressFont->fid);
}
