// The wizard in a terminal, for a machine without a display or by --text.
// It takes the window's road: the licence and its question, the same
// destinations numbered, then Install, whose checks and messages are the
// window's, with the progress as a line of text rather than a bar.
#include "terminal.h"

#include "bytes.h"
#include "format.h"
#include "messages.h"
#include "progress_line.h"
#include "state.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern const char licenceText[];  // generated from assets/licence.txt

namespace {

// When the terminal cannot tell its size.
constexpr int kDefaultRows = 24;
constexpr int kDefaultColumns = 80;

const char kMorePrompt[] = "-- Enter or space: more; q: to the question --";
// The pager moves about the screen with the VT100's escapes, which every
// terminal and emulator of today follows: the cursor home, the screen
// cleared.
const char kClearScreen[] = "\033[H\033[2J";

// Where the wizard talks: standard output, or the terminal itself (see
// TalkingDescriptor).  Set before any handler that uses it.
int nTalkFd = STDOUT_FILENO;

// The terminal's modes from before the pager took single keys, for every
// way out, a signal's included.
struct termios savedModes;
volatile sig_atomic_t bModesChanged = 0;

// The terminal changed its size while the licence was paged.
volatile sig_atomic_t bResized = 0;

void Say(const std::string& text)
{
    WriteAll(nTalkFd, text);
}

void RestoreModes()
{
    if (bModesChanged) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedModes);
        bModesChanged = 0;
    }
}

// Ctrl-C (and a hang-up or SIGTERM) at a question ends the installer at
// once, nothing written.  While the product is written the installation
// sequence catches them itself, puts the destination back and ends the
// same way.  Only async-signal-safe calls here.
void EndOnSignal(int signal)
{
    RestoreModes();
    WriteAll(nTalkFd, "\n");  // the shell's prompt starts a line of its own
    _exit(128 + signal);
}

void EndOnSignals()
{
    struct sigaction action {};
    action.sa_handler = EndOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

void NoteResize(int)
{
    bResized = 1;
}

// Someone typing at a terminal whose standard output goes to a file would
// answer questions the file got: the wizard then talks on the terminal
// itself.  Only a terminal is taken, never a file or a link put at its
// name; without one, standard output as before.
int TalkingDescriptor()
{
    if (isatty(STDOUT_FILENO) || !isatty(STDIN_FILENO))
        return STDOUT_FILENO;
    const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (terminal >= 0 && isatty(terminal))
        return terminal;
    if (terminal >= 0)
        close(terminal);
    return STDOUT_FILENO;
}

// One byte of standard input; false at its end.
bool ReadByte(char* byte)
{
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, byte, 1);
        if (got == 1)
            return true;
        if (got == 0 || errno != EINTR)
            return false;
    }
}

// A line without its newline; nothing at the end of the input.  Read a
// byte at a time, so that no answer is taken from the next question.
std::optional<std::string> ReadLine()
{
    std::string line;
    char byte;
    bool any = false;
    while (ReadByte(&byte)) {
        any = true;
        if (byte == '\n')
            return line;
        // No answer is longer than a path; input that never ends a line
        // (a device of zeros) is no answerer, and ends like the input.
        if (line.size() == PATH_MAX)
            return std::nullopt;
        line += byte;
    }
    if (!any)
        return std::nullopt;
    return line;
}

// Asks; whatever follows starts a line of its own, also after the end of
// the input, and answers read from a file are shown as if typed.
std::optional<std::string> Ask(const std::string& question)
{
    Say(question);
    std::optional<std::string> answer = ReadLine();
    if (!answer)
        Say("\n");
    else if (!isatty(STDIN_FILENO))
        Say(Shown(*answer) + "\n");
    return answer;
}

struct TerminalSize {
    int rows;
    int columns;
};

// Asked anew for every page: the user may resize the window meanwhile.
TerminalSize SizeNow()
{
    TerminalSize now{kDefaultRows, kDefaultColumns};
    struct winsize size {};
    if (ioctl(nTalkFd, TIOCGWINSZ, &size) == 0) {
        if (size.ws_row > 1)
            now.rows = size.ws_row;
        if (size.ws_col > 0)
            now.columns = size.ws_col;
    }
    return now;
}

// The columns a line of text covers: each character's width in the
// locale's encoding, a tab up to the next multiple of eight, a byte that
// is no character one.
int ColumnsOf(std::string_view text)
{
    int columns = 0;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < text.size();) {
        wchar_t character = 0;
        std::size_t length = std::mbrtowc(&character, text.data() + at, text.size() - at, &state);
        if (length == 0 || length > text.size() - at) {
            state = std::mbstate_t();
            length = 1;
            ++columns;
        } else if (character == L'\t') {
            columns = columns / 8 * 8 + 8;
        } else {
            columns += std::max(wcwidth(character), 0);
        }
        at += length;
    }
    return columns;
}

// The rows a line takes once the terminal has wrapped it; an empty line
// one.  A line exactly as wide as the terminal takes one: the newline
// after it does not add another.
int RowsOf(std::string_view line, int columns)
{
    const int width = ColumnsOf(line);
    return width == 0 ? 1 : (width + columns - 1) / columns;
}

// While the pager waits, keys act without Enter and are not echoed.
class SingleKeys {
public:
    SingleKeys()
    {
        if (tcgetattr(STDIN_FILENO, &savedModes) != 0)
            return;
        struct termios modes = savedModes;
        modes.c_lflag &= ~(ICANON | ECHO);
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
        bModesChanged = 1;  // before the change: a signal in between restores
        if (tcsetattr(STDIN_FILENO, TCSANOW, &modes) != 0)
            bModesChanged = 0;
    }
    ~SingleKeys() { RestoreModes(); }
    SingleKeys(const SingleKeys&) = delete;
    SingleKeys& operator=(const SingleKeys&) = delete;
};

// A change of the terminal's size (SIGWINCH) while the licence is paged.
// It is blocked while a page is drawn and let in only where the pager
// waits for a key (ppoll), so that one that comes just before the wait is
// never lost: the page is then drawn again for the new size.
class ResizeWatch {
public:
    ResizeWatch()
    {
        struct sigaction action {};
        action.sa_handler = NoteResize;  // no SA_RESTART: the wait returns
        sigemptyset(&action.sa_mask);
        sigaction(SIGWINCH, &action, &before_);
        sigset_t resize;
        sigemptyset(&resize);
        sigaddset(&resize, SIGWINCH);
        sigprocmask(SIG_BLOCK, &resize, &unblocked_);
        bResized = 0;
    }
    ~ResizeWatch()
    {
        sigprocmask(SIG_SETMASK, &unblocked_, nullptr);
        sigaction(SIGWINCH, &before_, nullptr);
    }
    ResizeWatch(const ResizeWatch&) = delete;
    ResizeWatch& operator=(const ResizeWatch&) = delete;

    // Until a key can be read: true; false, and forgotten, when the size
    // changed first.
    bool WaitForKey() const
    {
        struct pollfd input {STDIN_FILENO, POLLIN, 0};
        while (!bResized) {
            if (ppoll(&input, 1, nullptr, &unblocked_) >= 0 || errno != EINTR)
                return true;  // a failed wait is left to the read to tell
        }
        bResized = 0;
        return false;
    }

private:
    struct sigaction before_;
    sigset_t unblocked_;
};

enum class Key { kMore, kToQuestion, kResized };

// Enter or space: the next screenful; q, or the end of the input: the
// question.  Other keys are not taken.
Key NextKey(const ResizeWatch& watch)
{
    const char endOfInput = static_cast<char>(savedModes.c_cc[VEOF]);
    for (char key;;) {
        if (!watch.WaitForKey())
            return Key::kResized;
        if (!ReadByte(&key))
            return Key::kToQuestion;
        if (key == '\n' || key == '\r' || key == ' ')
            return Key::kMore;
        if (key == 'q' || key == 'Q' || key == endOfInput)
            return Key::kToQuestion;
    }
}

// Back to the start of the first of the rows the prompt took at the width
// it was drawn at, everything from there on erased.
std::string PromptErased(int columns)
{
    const int rows = RowsOf(kMorePrompt, columns);
    return "\r" + (rows > 1 ? FormatText("\033[%dA", rows - 1) : std::string()) + "\033[J";
}

// The prompt, taken away once a key has answered it.  After a resize the
// whole screen is drawn again instead: a terminal may have rewrapped it.
Key AskForMore(const ResizeWatch& watch, int columns)
{
    Say(kMorePrompt);
    const Key key = NextKey(watch);
    if (key != Key::kResized)
        Say(PromptErased(columns));
    return key;
}

std::vector<std::string_view> LicenceLines()
{
    std::vector<std::string_view> lines;
    for (const char* line = licenceText; *line;) {
        const char* newline = std::strchr(line, '\n');
        const std::size_t length = newline ? newline - line : std::strlen(line);
        lines.emplace_back(line, length);
        line += newline ? length + 1 : length;
    }
    return lines;
}

void SayLine(std::string_view line)
{
    Say(std::string(line) + "\n");
}

// The lines from first on that fit above the prompt on the terminal as it
// is, counted in the rows they wrap into; one at least, however small the
// terminal.  Returns the line after the last one drawn.
std::size_t DrawPage(const std::vector<std::string_view>& lines, std::size_t first,
                     TerminalSize size)
{
    const int room = size.rows - RowsOf(kMorePrompt, size.columns);
    int used = 0;
    std::size_t next = first;
    for (; next < lines.size(); ++next) {
        const int rows = RowsOf(lines[next], size.columns);
        if (next > first && used + rows > room)
            break;
        SayLine(lines[next]);
        used += rows;
    }
    return next;
}

// A screenful at a time, whatever size the terminal has when each is
// drawn, so that every line is on the screen with the prompt below it.
void ShowPaged(const std::vector<std::string_view>& lines)
{
    SingleKeys keys;
    ResizeWatch watch;
    bool redraw = false;
    for (std::size_t first = 0; first < lines.size();) {
        if (redraw)
            Say(kClearScreen);
        const TerminalSize size = SizeNow();
        const std::size_t next = DrawPage(lines, first, size);
        if (next == lines.size())
            return;
        const Key key = AskForMore(watch, size.columns);
        if (key == Key::kToQuestion)
            return;
        redraw = key == Key::kResized;
        if (!redraw)
            first = next;
    }
}

// Paged when someone at a terminal reads it; all at once otherwise.
void ShowLicence()
{
    const std::vector<std::string_view> lines = LicenceLines();
    if (isatty(STDIN_FILENO) && isatty(nTalkFd)) {
        ShowPaged(lines);
        return;
    }
    for (std::string_view line : lines)
        SayLine(line);
}

std::string WithoutBlanks(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool AcceptsLicence()
{
    ShowLicence();
    const std::optional<std::string> answer = Ask("Do you accept the licence? [y/N] ");
    if (!answer)
        return false;
    const std::string word = WithoutBlanks(*answer);
    return strcasecmp(word.c_str(), "y") == 0 || strcasecmp(word.c_str(), "yes") == 0;
}

bool IsNumber(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Enter takes the first choice, a number its choice, anything else is the
// destination as typed, byte for byte.  A number that is no choice is
// asked again: it is far likelier a slip than a folder named so.
std::optional<std::string> AskDestination(const std::vector<std::string>& choices)
{
    for (;;) {
        Say("\nDestination Directory\n");
        for (std::size_t i = 0; i < choices.size(); ++i)
            Say(FormatText("  %zu) %s\n", i + 1, Shown(choices[i]).c_str()));
        const std::optional<std::string> answer = Ask("Destination [1]: ");
        if (!answer)
            return std::nullopt;
        if (answer->empty())
            return choices.empty() ? std::string() : choices.front();
        if (!IsNumber(*answer))
            return answer;
        const unsigned long number = answer->size() < 4 ? std::stoul(*answer) : 0;
        if (number >= 1 && number <= choices.size())
            return choices[number - 1];
        Report(Found(Fault::kNoSuchChoice, *answer));
    }
}

}  // namespace

int RunTerminalWizard()
{
    runMode = RunMode::kTerminal;
    nTalkFd = TalkingDescriptor();
    EndOnSignals();
    if (!AcceptsLicence())
        return 0;
    const std::vector<std::string> choices = DestinationChoices();
    StartProgressLine(nTalkFd);
    for (;;) {
        std::optional<std::string> destination = AskDestination(choices);
        if (!destination)
            return 0;
        pLocation = destination->data();
        Install(nullptr, nullptr, nullptr);  // returns only when the player was not started
        if (bInstallationStarted)
            return 1;
    }
}
