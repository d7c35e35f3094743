// The destinations the wizard offers, in the window's combo box and in the
// terminal alike.
#include "settings.h"
#include "state.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

// Whoever may write into /usr/local gets it first; everybody else gets the
// home folder first.  Without a HOME, or with one too long to make a path
// of, or one that is not our own, the home entry is left out.  An entry equal to an earlier one (a HOME
// of /opt) is left out too, as the combo box refuses it.
std::vector<std::string> DestinationChoices()
{
    const char* home = std::getenv("HOME");
    const std::string homeEntry = home ? std::string(home) + "/Ovelo8" : std::string();
    const bool haveHome = IsOwnHome(home) && homeEntry.size() < PATH_MAX;
    const std::string usrLocal = "/usr/local/Ovelo8";

    const bool mayWriteUsrLocal = access("/usr/local", W_OK) == 0;
    std::vector<std::string> offered;
    if (mayWriteUsrLocal)
        offered.push_back(usrLocal);
    if (haveHome)
        offered.push_back(homeEntry);
    if (!mayWriteUsrLocal)
        offered.push_back(usrLocal);
    offered.push_back("/opt/Ovelo8");

    std::vector<std::string> choices;
    for (const std::string& entry : offered)
        if (std::find(choices.begin(), choices.end(), entry) == choices.end())
            choices.push_back(entry);
    return choices;
}
