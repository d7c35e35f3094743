// Fontconfig's fallback for the characters a font lacks, in every text the
// toolkit draws.
//
// The toolkit draws and measures a text with the one Xft font of its
// rendition, so a character that font lacks (a kanji in the place of
// Helvetica) would show as a box although another installed font has it.
// The image is linked with --wrap for Xft's text functions (see
// installer/CMakeLists.txt): each call, the toolkit's and ours, comes here
// first.  A text the font covers goes straight on; any other is cut into
// runs, each drawn or measured with the font fontconfig ranks first among
// those that have its characters, at the same size, so that drawing and
// measuring agree.  A character no installed font has stays with the
// first font, which draws Xft's replacement box for it.
#include <X11/Xft/Xft.h>

#include <algorithm>
#include <map>
#include <vector>

extern "C" {
void __real_XftDrawStringUtf8(XftDraw*, const XftColor*, XftFont*, int, int, const FcChar8*,
                              int);
void __real_XftDrawString16(XftDraw*, const XftColor*, XftFont*, int, int, const FcChar16*,
                            int);
void __real_XftDrawString32(XftDraw*, const XftColor*, XftFont*, int, int, const FcChar32*,
                            int);
void __real_XftTextExtents8(Display*, XftFont*, const FcChar8*, int, XGlyphInfo*);
void __real_XftTextExtentsUtf8(Display*, XftFont*, const FcChar8*, int, XGlyphInfo*);
void __real_XftTextExtents16(Display*, XftFont*, const FcChar16*, int, XGlyphInfo*);
void __real_XftTextExtents32(Display*, XftFont*, const FcChar32*, int, XGlyphInfo*);
}

namespace {

using Text = std::vector<FcChar32>;

struct Run {
    XftFont* font;
    std::size_t begin, end;
};

// For one font: the installed fonts in fontconfig's order for what it was
// asked as, opened as they are needed, and the font chosen for each
// character it lacks.
struct Fallbacks {
    FcFontSet* ranked = nullptr;
    FcPattern* request = nullptr;
    std::map<int, XftFont*> opened;
    std::map<FcChar32, XftFont*> chosen;
};

// Fonts live as long as the process: every one we open is kept.
std::map<XftFont*, Fallbacks> fallbacksOf;

// The family, style and size of the font, with the configuration's and
// the locale's defaults (its language above all, so that a Han character
// is drawn as the locale writes it).
FcPattern* RequestLike(Display* display, XftFont* font)
{
    FcPattern* request = FcPatternCreate();
    for (const char* object : {FC_FAMILY, FC_STYLE, FC_WEIGHT, FC_SLANT, FC_WIDTH,
                               FC_PIXEL_SIZE}) {
        FcValue value;
        if (FcPatternGet(font->pattern, object, 0, &value) == FcResultMatch)
            FcPatternAdd(request, object, value, FcFalse);
    }
    FcConfigSubstitute(nullptr, request, FcMatchPattern);
    XftDefaultSubstitute(display, DefaultScreen(display), request);
    return request;
}

Fallbacks& FallbacksOf(Display* display, XftFont* font)
{
    Fallbacks& fallbacks = fallbacksOf[font];
    if (!fallbacks.request) {
        fallbacks.request = RequestLike(display, font);
        FcResult result = FcResultNoMatch;
        fallbacks.ranked = FcFontSort(nullptr, fallbacks.request, FcTrue, nullptr, &result);
    }
    return fallbacks;
}

XftFont* OpenRanked(Display* display, Fallbacks& fallbacks, int rank)
{
    auto known = fallbacks.opened.find(rank);
    if (known != fallbacks.opened.end())
        return known->second;
    FcPattern* pattern =
        FcFontRenderPrepare(nullptr, fallbacks.request, fallbacks.ranked->fonts[rank]);
    XftFont* opened = pattern ? XftFontOpenPattern(display, pattern) : nullptr;
    if (pattern && !opened)
        FcPatternDestroy(pattern);
    return fallbacks.opened[rank] = opened;
}

// The first font in fontconfig's order that has the character, or the font
// itself when none has.
XftFont* FontFor(Display* display, XftFont* font, FcChar32 character)
{
    if (XftCharExists(display, font, character))
        return font;
    Fallbacks& fallbacks = FallbacksOf(display, font);
    auto known = fallbacks.chosen.find(character);
    if (known != fallbacks.chosen.end())
        return known->second;
    XftFont* chosen = font;
    for (int rank = 0; fallbacks.ranked && rank < fallbacks.ranked->nfont; ++rank) {
        FcCharSet* characters = nullptr;
        if (FcPatternGetCharSet(fallbacks.ranked->fonts[rank], FC_CHARSET, 0, &characters) !=
                FcResultMatch ||
            !FcCharSetHasChar(characters, character))
            continue;
        if (XftFont* opened = OpenRanked(display, fallbacks, rank)) {
            chosen = opened;
            break;
        }
    }
    return fallbacks.chosen[character] = chosen;
}

std::vector<Run> RunsOf(Display* display, XftFont* font, const Text& text)
{
    std::vector<Run> runs;
    for (std::size_t i = 0; i < text.size(); ++i) {
        XftFont* chosen = FontFor(display, font, text[i]);
        if (runs.empty() || runs.back().font != chosen)
            runs.push_back({chosen, i, i});
        runs.back().end = i + 1;
    }
    return runs;
}

// Whether the text needs any font but its own.
bool NeedsFallback(const std::vector<Run>& runs, XftFont* font)
{
    return std::any_of(runs.begin(), runs.end(),
                       [font](const Run& run) { return run.font != font; });
}

// A decoder of each kind of string Xft takes: false where the text had to
// be read otherwise than Xft would read it.
template <typename Char>
auto Widening(const Char* string, int length)
{
    return [string, length](Text& text) {
        text.assign(string, string + std::max(length, 0));
        return true;
    };
}

// The toolkit hands its text to Xft as UTF-8 in every locale.  A byte
// that is not UTF-8 (a Latin-1 name in the C locale, whose X encoding that
// is) is taken as the Latin-1 character, where Xft would stop the text.
auto DecodingUtf8(const FcChar8* string, int length)
{
    return [string, length](Text& text) mutable {
        bool utf8 = true;
        while (length > 0) {
            FcChar32 character = *string;
            int used = FcUtf8ToUcs4(string, &character, length);
            if (used <= 0) {
                character = *string;
                used = 1;
                utf8 = false;
            }
            text.push_back(character);
            string += used;
            length -= used;
        }
        return utf8;
    };
}

void Measure(Display* display, const Text& text, const Run& run, XGlyphInfo* extents)
{
    __real_XftTextExtents32(display, run.font, text.data() + run.begin,
                            static_cast<int>(run.end - run.begin), extents);
}

// The runs' box, each run drawn where the one before left the pen.
void MeasureRuns(Display* display, const Text& text, const std::vector<Run>& runs,
                 XGlyphInfo* extents)
{
    int left = 0, top = 0, right = 0, bottom = 0, x = 0, y = 0;
    bool first = true;
    for (const Run& run : runs) {
        XGlyphInfo part{};
        Measure(display, text, run, &part);
        if (part.width > 0 && part.height > 0) {
            const int partLeft = x - part.x, partTop = y - part.y;
            left = first ? partLeft : std::min(left, partLeft);
            top = first ? partTop : std::min(top, partTop);
            right = first ? partLeft + part.width : std::max(right, partLeft + part.width);
            bottom = first ? partTop + part.height : std::max(bottom, partTop + part.height);
            first = false;
        }
        x += part.xOff;
        y += part.yOff;
    }
    extents->x = static_cast<short>(-left);
    extents->y = static_cast<short>(-top);
    extents->width = static_cast<unsigned short>(right - left);
    extents->height = static_cast<unsigned short>(bottom - top);
    extents->xOff = static_cast<short>(x);
    extents->yOff = static_cast<short>(y);
}

void DrawRuns(XftDraw* draw, const XftColor* colour, int x, int y, const Text& text,
              const std::vector<Run>& runs)
{
    Display* display = XftDrawDisplay(draw);
    for (const Run& run : runs) {
        __real_XftDrawString32(draw, colour, run.font, x, y, text.data() + run.begin,
                               static_cast<int>(run.end - run.begin));
        XGlyphInfo part{};
        Measure(display, text, run, &part);
        x += part.xOff;
        y += part.yOff;
    }
}

// Each entry point draws or measures the runs, and hands the call on
// unchanged where the font has every character of a text Xft reads as we
// do, or where memory ran short: no exception may reach the toolkit.
template <typename Decode>
bool DrewRuns(XftDraw* draw, const XftColor* colour, XftFont* font, int x, int y,
              Decode decode) noexcept
{
    try {
        Text text;
        const bool asXftReadsIt = decode(text);
        const std::vector<Run> runs = RunsOf(XftDrawDisplay(draw), font, text);
        if (asXftReadsIt && !NeedsFallback(runs, font))
            return false;
        DrawRuns(draw, colour, x, y, text, runs);
        return true;
    } catch (...) {
        return false;
    }
}

template <typename Decode>
bool MeasuredRuns(Display* display, XftFont* font, XGlyphInfo* extents, Decode decode) noexcept
{
    try {
        Text text;
        const bool asXftReadsIt = decode(text);
        const std::vector<Run> runs = RunsOf(display, font, text);
        if (asXftReadsIt && !NeedsFallback(runs, font))
            return false;
        MeasureRuns(display, text, runs, extents);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

extern "C" {

void __wrap_XftDrawStringUtf8(XftDraw* draw, const XftColor* colour, XftFont* font, int x,
                              int y, const FcChar8* string, int length)
{
    if (!DrewRuns(draw, colour, font, x, y, DecodingUtf8(string, length)))
        __real_XftDrawStringUtf8(draw, colour, font, x, y, string, length);
}

void __wrap_XftDrawString16(XftDraw* draw, const XftColor* colour, XftFont* font, int x,
                            int y, const FcChar16* string, int length)
{
    if (!DrewRuns(draw, colour, font, x, y, Widening(string, length)))
        __real_XftDrawString16(draw, colour, font, x, y, string, length);
}

void __wrap_XftDrawString32(XftDraw* draw, const XftColor* colour, XftFont* font, int x,
                            int y, const FcChar32* string, int length)
{
    if (!DrewRuns(draw, colour, font, x, y, Widening(string, length)))
        __real_XftDrawString32(draw, colour, font, x, y, string, length);
}

void __wrap_XftTextExtents8(Display* display, XftFont* font, const FcChar8* string, int length,
                            XGlyphInfo* extents)
{
    if (!MeasuredRuns(display, font, extents, Widening(string, length)))
        __real_XftTextExtents8(display, font, string, length, extents);
}

void __wrap_XftTextExtentsUtf8(Display* display, XftFont* font, const FcChar8* string,
                               int length, XGlyphInfo* extents)
{
    if (!MeasuredRuns(display, font, extents, DecodingUtf8(string, length)))
        __real_XftTextExtentsUtf8(display, font, string, length, extents);
}

void __wrap_XftTextExtents16(Display* display, XftFont* font, const FcChar16* string,
                             int length, XGlyphInfo* extents)
{
    if (!MeasuredRuns(display, font, extents, Widening(string, length)))
        __real_XftTextExtents16(display, font, string, length, extents);
}

void __wrap_XftTextExtents32(Display* display, XftFont* font, const FcChar32* string,
                             int length, XGlyphInfo* extents)
{
    if (!MeasuredRuns(display, font, extents, Widening(string, length)))
        __real_XftTextExtents32(display, font, string, length, extents);
}

}  // extern "C"
