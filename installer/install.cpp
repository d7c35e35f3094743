// The installation sequence: check the destination and our own file, make
// the destination if it is missing, unpack into it, and become the player.
#include "format.h"
#include "state.h"

#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool bInstalling = false;  // under way: the copy loop's events may call us again

}  // namespace

bool bMadeDestination = false;

namespace {

// The text of the combo box's field, copied so that the toolkit's copy can
// be freed at once.
std::string ChosenDestination()
{
    Widget field = nullptr;
    XtVaGetValues(page2dircombobox, "textField", &field, nullptr);
    char* value = nullptr;
    XtVaGetValues(field, XmNvalue, &value, nullptr);
    std::string destination = value ? value : "";
    XtFree(value);
    return destination;
}

// Our own file, by the path we were started with: it must exist there
// (it is never looked up in the search path) and be readable.
bool CheckStartPath(const char* start)
{
    struct stat info;
    if (stat(start, &info) == -1) {
        ReportError(FormatText("unable to find location of executable %s to self-extract.  "
                               "Please run \n%s with an absolute path (e.g. ./%s)\n",
                               start, start, start).c_str());
        return false;
    }
    const int fd = open(start, O_RDONLY | O_CLOEXEC);
    if (fd == -1) {
        ReportError(FormatText("unable to read %s.  Please do chmod 0500 %s and try again\n",
                               start, start).c_str());
        return false;
    }
    close(fd);
    return true;
}

// A new directory is proved writable with a short-lived "test" file.  It is
// created exclusively and never through a link, so nothing planted at that
// name is followed or truncated.
bool MakeDestination(const std::string& destination)
{
    if (mkdir(destination.c_str(), 0777) == -1) {
        ReportError(FormatText("Can not make directory %s", destination.c_str()).c_str());
        return false;
    }
    const std::string test = destination + "/" + "test";
    const int fd = open(test.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd == -1) {
        ReportError(FormatText("Can not write to directory %s", destination.c_str()).c_str());
        return false;
    }
    close(fd);
    remove(test.c_str());
    bMadeDestination = true;
    return true;
}

// An existing destination must be a directory; a missing one is made.
bool PrepareDestination(const std::string& destination)
{
    struct stat info;
    bMadeDestination = false;
    if (stat(destination.c_str(), &info) == -1)
        return MakeDestination(destination);
    if (!S_ISDIR(info.st_mode)) {
        ReportError(FormatText("The destination %s is not a directory.",
                               destination.c_str()).c_str());
        return false;
    }
    return true;
}

bool CheckDestination(const std::string& destination)
{
    if (destination.empty()) {
        ReportError("You must specify a destination directory.");
        return false;
    }
    if (!CheckStartPath(pArgv[0]) || !PrepareDestination(destination))
        return false;
    if (access(destination.c_str(), W_OK) != 0) {
        ReportError("You do not have write permission for the destination directory.");
        return false;
    }
    return true;
}

const char kUnknownFailure[] = "Installation failed for unknown reason";

void RunSequence()
{
    std::string destination = bIsSilent ? pLocation : ChosenDestination();
    if (!CheckDestination(destination))
        return;
    if (!bIsSilent) {
        XtUnmanageChild(page2form);
        XtManageChild(page3form);
    }
    if (!Extract(destination.data()) || bIsSilent)
        return;
    // Extract left us in the destination: the player starts there.  A
    // relative destination no longer leads to it from here, so the file is
    // then reached as ./ovelo, still under its full name.
    const std::string player = destination + "/ovelo";
    const char* file = destination.front() == '/' ? player.c_str() : "./ovelo";
    execl(file, player.c_str(), "inst", static_cast<char*>(nullptr));
    ReportError(kUnknownFailure);
}

}  // namespace

// Called by main in a silent run, and as the activate callback of Finish.
void Install(Widget, XtPointer, XtPointer)
{
    if (bInstalling)
        return;
    bInstalling = true;
    try {
        RunSequence();
    } catch (const std::exception&) {  // never into the toolkit
        ReportError(kUnknownFailure);
    }
    bInstalling = false;
}
