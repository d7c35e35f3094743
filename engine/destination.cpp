// The destination walk and the trust it places in what it meets.
#include "destination.h"

#include "beneath.h"

#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool IsTrustedOwner(uid_t owner)
{
    return owner == geteuid() || owner == 0;
}

// "dest/" and "dest/." would follow a link at dest whatever we ask of open.
std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// One name of a path being walked.  Names read from a link stand for the
// link: they end where its name ends in the path as given.
struct Step {
    std::string name;
    std::size_t end;  // where the name this step stands for ends in the path
    bool fromLink;
};

std::deque<Step> Steps(const std::string& path, std::size_t end, bool fromLink)
{
    std::deque<Step> steps;
    std::size_t begin = 0;
    while (begin < path.size()) {
        std::size_t slash = path.find('/', begin);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > begin)
            steps.push_back({path.substr(begin, slash - begin), fromLink ? end : slash, fromLink});
        begin = slash + 1;
    }
    return steps;
}

Outcome ForeignLink(const std::string& destination, std::size_t end, bool last)
{
    if (last)
        return Found(Fault::kForeignLink, destination);
    Outcome refusal = Found(Fault::kBehindForeignLink, destination);
    refusal.other = destination.substr(0, end);
    return refusal;
}

// Empty when it can not be read, errno saying why.
std::string LinkTarget(int link)
{
    char target[PATH_MAX];
    const ssize_t length = readlinkat(link, "", target, sizeof target);
    if (length >= PATH_MAX)
        errno = ENAMETOOLONG;
    return length > 0 && length < PATH_MAX ? std::string(target, length) : std::string();
}

Descriptor OpenRoot(bool absolute)
{
    return Descriptor(open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

Walked Failed(Outcome* refusal, int error = errno)
{
    refusal->error = error;
    return Walked::kFailed;
}

}  // namespace

Fault RootsDistrust(int folder)
{
    struct stat info;
    if (geteuid() != 0)
        return Fault::kNone;
    if (fstat(folder, &info) == -1 || info.st_uid != 0)
        return Fault::kFolderForeign;
    if ((info.st_mode & 022) && !(info.st_mode & S_ISVTX))
        return Fault::kFolderOpenToOthers;
    return Fault::kNone;
}

// A link must be ours or root's: it is read through its own descriptor,
// so it is the link whose owner was checked, and its target walked in its
// place.  Never more than three descriptors are held.
Walked WalkDestination(const std::string& given, Destination* place, Outcome* refusal)
{
    const std::string path = WithoutTrailingSlashes(given);
    *refusal = Outcome();
    if (path.empty())
        return Walked::kFailed;
    std::deque<Step> steps = Steps(path, 0, false);
    Descriptor here = OpenRoot(path.front() == '/');
    Descriptor before;
    std::string hereName = path.front() == '/' ? "/" : ".", lastName = ".";
    int linksFollowed = 0;
    while (here && !steps.empty()) {
        if (RootsDistrust(here.get()) != Fault::kNone) {
            *refusal = Found(Fault::kOnWayOpenToOthers, given);
            refusal->other = hereName;
            return Walked::kRefused;
        }
        const Step step = steps.front();
        steps.pop_front();
        Descriptor next(openat(here.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info;
        if (!next && errno == ENOENT && steps.empty() && !step.fromLink) {
            place->parent = std::move(here);
            place->name = step.name;
            return Walked::kMissing;
        }
        if (!next || fstat(next.get(), &info) == -1)
            return Failed(refusal);
        if (S_ISLNK(info.st_mode)) {
            if (!IsTrustedOwner(info.st_uid)) {
                *refusal = ForeignLink(given, step.end, step.end == path.size());
                return Walked::kRefused;
            }
            const std::string target = LinkTarget(next.get());
            if (target.empty())
                return Failed(refusal);
            if (++linksFollowed > 40)
                return Failed(refusal, ELOOP);
            const std::deque<Step> inner = Steps(target, step.end, true);
            steps.insert(steps.begin(), inner.begin(), inner.end());
            if (target.front() == '/')
                here = OpenRoot(true);
            continue;
        }
        if (!steps.empty() && !S_ISDIR(info.st_mode))
            return Failed(refusal, ENOTDIR);
        before = std::move(here);
        here = std::move(next);
        lastName = step.name;
        hereName = given.substr(0, step.end);
    }
    if (!here)
        return Failed(refusal);
    // The top of the path ("/" or ".") has no name of its own in a parent
    // we hold: it is reached, but can never be made or removed.
    place->folder = Descriptor(openat(here.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!place->folder)
        place->folder = std::move(here);  // no folder, or not ours to read: the checks say
    place->parent = std::move(before);
    place->name = lastName;
    return Walked::kReached;
}

bool IsRootDirectory(int folder)
{
    const Descriptor root = OpenRoot(true);
    struct stat top;
    struct stat info;
    return root && fstat(root.get(), &top) == 0 && fstat(folder, &info) == 0 &&
           SameFile(top, info);
}

Outcome RefusedDestination(const std::string& destination, int folder)
{
    struct stat info;
    if (fstat(folder, &info) == -1 || !S_ISDIR(info.st_mode))
        return Found(Fault::kNotDirectory, destination);
    if (!IsTrustedOwner(info.st_uid))
        return Found(Fault::kForeignDestination, destination);
    if (geteuid() == 0 && (info.st_mode & 022))
        return Found(Fault::kDestinationOpenToOthers, destination);
    return Outcome();
}
