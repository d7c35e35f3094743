// The fallback resources of the application class: labels, sizes and colours
// of the wizard wherever the user's own resources give nothing.
#include "state.h"

#include <cstring>

String resources[] = {
    const_cast<char*>("OveloXInstaller.height:                           350"),
    const_cast<char*>("OveloXInstaller.width:                            489"),
    const_cast<char*>("OveloXInstaller.title:                            Ovelo 8 Installer"),
    const_cast<char*>("OveloXInstaller*background:                       #D0D0D0"),
    const_cast<char*>("OveloXInstaller*foreground:                       black"),
    const_cast<char*>("OveloXInstaller*fontList:                         -adobe-helvetica-medium-r-normal-*-12-*-*-*-*-*-*-*"),
    const_cast<char*>("OveloXInstaller*topShadowColor:                   white"),
    const_cast<char*>("OveloXInstaller*XmPushButton.shadowThickness:     1"),
    const_cast<char*>("OveloXInstaller*page1finish.labelString:          Finish"),
    const_cast<char*>("OveloXInstaller*page1finish.mnemonic:             F"),
    const_cast<char*>("OveloXInstaller*page1finish.width:                75"),
    const_cast<char*>("OveloXInstaller*page1finish.marginHeight:         3"),
    const_cast<char*>("OveloXInstaller*page1finish.sensitive:            False"),
    const_cast<char*>("OveloXInstaller*page1accept.labelString:          Accept >"),
    const_cast<char*>("OveloXInstaller*page1accept.mnemonic:             A"),
    const_cast<char*>("OveloXInstaller*page1accept.width:                75"),
    const_cast<char*>("OveloXInstaller*page1accept.marginHeight:         3"),
    const_cast<char*>("OveloXInstaller*page1back.labelString:            < Back"),
    const_cast<char*>("OveloXInstaller*page1back.mnemonic:               B"),
    const_cast<char*>("OveloXInstaller*page1back.width:                  75"),
    const_cast<char*>("OveloXInstaller*page1back.marginHeight:           3"),
    const_cast<char*>("OveloXInstaller*page1back.sensitive:              False"),
    const_cast<char*>("OveloXInstaller*page1cancel.labelString:          Cancel"),
    const_cast<char*>("OveloXInstaller*page1cancel.mnemonic:             C"),
    const_cast<char*>("OveloXInstaller*page1cancel.width:                75"),
    const_cast<char*>("OveloXInstaller*page1cancel.marginHeight:         3"),
    const_cast<char*>("OveloXInstaller*page2finish.labelString:          Finish"),
    const_cast<char*>("OveloXInstaller*page2finish.mnemonic:             F"),
    const_cast<char*>("OveloXInstaller*page2finish.width:                75"),
    const_cast<char*>("OveloXInstaller*page2finish.marginHeight:         3"),
    const_cast<char*>("OveloXInstaller*page2finish.sensitive:            True"),
    const_cast<char*>("OveloXInstaller*page2next.labelString:            Next >"),
    const_cast<char*>("OveloXInstaller*page2next.mnemonic:               N"),
    const_cast<char*>("OveloXInstaller*page2next.width:                  75"),
    const_cast<char*>("OveloXInstaller*page2next.marginHeight:           3"),
    const_cast<char*>("OveloXInstaller*page2next.sensitive:              False"),
    const_cast<char*>("OveloXInstaller*page2back.labelString:            < Back"),
    const_cast<char*>("OveloXInstaller*page2back.mnemonic:               B"),
    const_cast<char*>("OveloXInstaller*page2back.width:                  75"),
    const_cast<char*>("OveloXInstaller*page2back.marginHeight:           3"),
    const_cast<char*>("OveloXInstaller*page2back.sensitive:              True"),
    const_cast<char*>("OveloXInstaller*page2cancel.labelString:          Cancel"),
    const_cast<char*>("OveloXInstaller*page2cancel.mnemonic:             C"),
    const_cast<char*>("OveloXInstaller*page2cancel.width:                75"),
    const_cast<char*>("OveloXInstaller*page2cancel.marginHeight:         3"),
    const_cast<char*>("OveloXInstaller*page2dircombobox*Text.background: white"),
    const_cast<char*>("OveloXInstaller*page2dirlabel.labelString:        Destination Directory"),
    const_cast<char*>("OveloXInstaller*page3progresslabel.labelString:   Installing..."),
    const_cast<char*>("OveloXInstaller*page3progressbar.height:          30"),
    const_cast<char*>("OveloXInstaller*page3progressbar.foreground:      #3131ce"),
    nullptr,
};

// Outside the C locale the labels, the field, the list and the dialogs
// draw with a font set, which takes each character in the locale's
// encoding from a font of its character set.  Helvetica serves the
// letters it has; every other script takes a plain font of the same size
// (Cyrillic, Greek, CJK from the misc and CJK bitmap fonts) and, failing
// that, any font of its character set, so that none the server has a font
// for is left out and drawn as another's letters.  (A pattern of the size
// alone would match the built-in scalable "fixed", which cannot be scaled,
// and fail the whole set.)  The C locale
// keeps the plain font and the line spacing that goes with it.
void UseFontSetForLabels()
{
    static const char kFontList[] = "OveloXInstaller*fontList:";
    static char fontSet[] =
        "OveloXInstaller*fontList:                         "
        "-adobe-helvetica-medium-r-normal-*-12-*-*-*-p-*-*-*;"
        "-*-*-medium-r-normal-*-12-*-*-*-*-*-*-*;"
        "*:";
    for (String* line = resources; *line; ++line)
        if (std::strncmp(*line, kFontList, sizeof kFontList - 1) == 0)
            *line = fontSet;
}
