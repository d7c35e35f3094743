// The wizard's scale and fonts on the display it opened.
//
// Desktops tell the resolution they draw at in the resource Xft.dpi (the
// root window's resources, or -xrm): the layout, made for 96 dpi, is
// scaled by it in quarters.  Text is drawn with client-side fonts (Xft,
// through the toolkit's renditions): the family the wizard asks for, as
// fontconfig finds its installed equivalent, at a size in pixels, so that
// the window looks the same whatever fonts the X server has.  Where
// fontconfig finds no font at all, the server's fonts are used as before.
#include "state.h"

#include <X11/Xft/Xft.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

float fScale = 1.0f;
XftFont* pPercentFont = nullptr;

namespace {

constexpr char kFamily[] = "Helvetica";
constexpr double kTextPixels = 12;
constexpr double kPercentPixels = 14;
// Lengths are 16-bit in the toolkit: 4 times the window still fits.
constexpr double kLargestScale = 4;
constexpr char kFontListSpecifier[] = "OveloXInstaller*fontList";

XrmDatabase Database()
{
    return XtScreenDatabase(XtScreen(toplevel));
}

// A string resource as the widgets would get it, "" when there is none.
std::string StringResource(const char* name, const char* className)
{
    char* type = nullptr;
    XrmValue value{};
    if (!XrmGetResource(Database(), name, className, &type, &value) || !value.addr ||
        std::strcmp(type, XtRString) != 0)
        return "";
    return value.addr;
}

// The value our fallback resources give a specifier, "" when they give none.
std::string FallbackValue(const char* specifier)
{
    const std::size_t length = std::strlen(specifier);
    for (String* line = resources; *line; ++line)
        if (std::strncmp(*line, specifier, length) == 0 && (*line)[length] == ':') {
            const char* value = *line + length + 1;
            return value + std::strspn(value, " \t");
        }
    return "";
}

// The font list the window's texts take, as the resources give it.
std::string PlaceholderFontList()
{
    return StringResource("OveloXInstaller.placeholder.fontList",
                          "OveloXInstaller.XmForm.FontList");
}

// Xft.dpi / 96 to the nearest quarter: 120 dpi gives 1.25, 192 dpi 2.
float ScaleOfDisplay()
{
    const std::string dpi = StringResource("Xft.dpi", "Xft.Dpi");
    const double value = std::strtod(dpi.c_str(), nullptr);
    if (!(value > 0))
        return 1.0f;
    return static_cast<float>(std::clamp(std::round(value / 96 * 4) / 4, 1.0, kLargestScale));
}

// Null when fontconfig has no font to offer.
XftFont* OpenFont(double pixels)
{
    Display* display = XtDisplay(toplevel);
    return XftFontOpen(display, XScreenNumberOfScreen(XtScreen(toplevel)),
                       XFT_FAMILY, XftTypeString, kFamily,
                       XFT_PIXEL_SIZE, XftTypeDouble, pixels * fScale, nullptr);
}

// A font the user named in the resources is theirs to keep.
bool FontListIsOurs()
{
    const std::string fontList = PlaceholderFontList();
    return fontList.empty() || fontList == FallbackValue(kFontListSpecifier);
}

// The render table of the one Xft font goes into the database in place of
// our fontList, as a value of the resource's own type: every widget made
// from now on takes it as it is, the dialogs and the combo box's list
// included, with no conversion.
void DrawTextWith(XftFont* font)
{
    Arg args[3];
    Cardinal n = 0;
    XtSetArg(args[n], XmNfontType, XmFONT_IS_XFT); ++n;
    XtSetArg(args[n], XmNfontName, kFamily); ++n;
    XtSetArg(args[n], XmNxftFont, font); ++n;
    XmRendition rendition = XmRenditionCreate(
        toplevel, const_cast<char*>(XmFONTLIST_DEFAULT_TAG), args, n);
    XmRenderTable table = XmRenderTableAddRenditions(nullptr, &rendition, 1, XmMERGE_REPLACE);
    XmRenditionFree(rendition);
    XrmValue value{sizeof table, reinterpret_cast<XPointer>(&table)};
    XrmDatabase database = Database();
    XrmPutResource(&database, kFontListSpecifier, XmRFontList, &value);
}

// A server with its built-in fonts only has no Helvetica: the plain font
// of the C locale then names "fixed", which it always has, rather than
// leave the toolkit to warn and take it anyway.  (A font set takes any font
// it finds.)
void FallBackToFixedFont()
{
    Display* display = XtDisplay(toplevel);
    const std::string fontList = PlaceholderFontList();
    if (fontList.empty() || fontList.back() == ':' ||
        fontList.find_first_of(",;=") != std::string::npos)
        return;
    int count = 0;
    char** names = XListFonts(display, fontList.c_str(), 1, &count);
    if (names)
        XFreeFontNames(names);
    XrmDatabase database = Database();
    if (count == 0)
        XrmPutStringResource(&database, kFontListSpecifier, "fixed");
}

// Fontconfig's configuration, loaded without the complaint fontconfig
// itself prints where the machine has none (a bare chroot, say): false
// then, and the server's fonts serve.
bool LoadFontconfig()
{
    FcConfig* config = FcConfigCreate();
    if (config && FcConfigParseAndLoad(config, nullptr, FcFalse) && FcConfigSetCurrent(config))
        return true;
    if (config)
        FcConfigDestroy(config);
    return false;
}

}  // namespace

int Scaled(int pixels)
{
    return static_cast<int>(std::lround(pixels * fScale));
}

void ChooseScaleAndFonts()
{
    fScale = ScaleOfDisplay();
    XftFont* text = LoadFontconfig() ? OpenFont(kTextPixels) : nullptr;
    if (text && FontListIsOurs())
        DrawTextWith(text);
    else
        FallBackToFixedFont();
    if (text)
        pPercentFont = OpenFont(kPercentPixels);
}
