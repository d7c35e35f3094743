// The wizard in a terminal, for a machine without a display or by --text.
// It takes the window's road: the licence and its question, the same
// destinations numbered, then Install, whose checks and messages are the
// window's, with the progress as a line of text rather than a bar.
#include "terminal.h"

#include "format.h"
#include "messages.h"
#include "progress_line.h"
#include "state.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern const char licenceText[];  // generated from assets/licence.txt

namespace {

constexpr int kDefaultRows = 24;  // when the terminal cannot tell its height

// The terminal's modes from before the pager took single keys, for every
// way out, a signal's included.
struct termios savedModes;
volatile sig_atomic_t bModesChanged = 0;

void Say(const std::string& text)
{
    WriteAll(STDOUT_FILENO, text.data(), text.size());
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
    WriteAll(STDOUT_FILENO, "\n", 1);  // the shell's prompt starts a line of its own
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

int TerminalRows()
{
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 1)
        return size.ws_row;
    return kDefaultRows;
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

// Enter or space: the next screenful; q, or the end of the input: the
// question.  Other keys are not taken.
bool WantsMore()
{
    static const char prompt[] = "-- Enter or space: more; q: to the question --";
    Say(prompt);
    const char endOfInput = static_cast<char>(savedModes.c_cc[VEOF]);
    bool more = false;
    for (char key; ReadByte(&key);) {
        if (key == '\n' || key == '\r' || key == ' ') {
            more = true;
            break;
        }
        if (key == 'q' || key == 'Q' || key == endOfInput)
            break;
    }
    Say("\r" + std::string(sizeof prompt - 1, ' ') + "\r");
    return more;
}

// A screenful at a time, the last row kept for the prompt, when someone
// at a terminal reads it; all at once otherwise.
void ShowLicence()
{
    const bool paged = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    std::optional<SingleKeys> keys;
    if (paged)
        keys.emplace();
    const int perScreen = TerminalRows() - 1;
    int shown = 0;
    for (const char* line = licenceText; *line;) {
        if (paged && shown == perScreen) {
            if (!WantsMore())
                return;
            shown = 0;
        }
        const char* newline = std::strchr(line, '\n');
        const std::size_t length = newline ? newline - line + 1 : std::strlen(line);
        WriteAll(STDOUT_FILENO, line, length);
        if (!newline)
            Say("\n");
        line += length;
        ++shown;
    }
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
    EndOnSignals();
    if (!AcceptsLicence())
        return 0;
    const std::vector<std::string> choices = DestinationChoices();
    StartProgressLine(STDOUT_FILENO);
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
