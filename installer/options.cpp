// The command lines answered without the window: the silent installation,
// the wizard in the terminal, the removal, and what the file tells about
// itself; one row each, recognised only as the whole command line.  The
// window opens for no arguments, or for the X Toolkit's options alone;
// anything else is a usage error, said before any display is opened, so
// that a mistyped command in a script never waits for a window.
#include "options.h"

#include "examine.h"
#include "messages.h"
#include "progress_line.h"
#include "state.h"
#include "terminal.h"

#include <X11/Xresource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Option {
    const char* name;     // the first argument, compared whole
    const char* operand;  // what the one argument after it names; null: none
    const char* summary;  // its line in the usage
    RunMode mode;         // none has a window: messages go to standard error
    int (*run)(char** argv);  // returns the exit status
};

// Exits 0 when the product was installed, with the status of the reported
// failure otherwise (messages.cpp).  On
// a terminal the progress shows on standard error, which otherwise stays
// as it always was.
int InstallSilently(char** argv)
{
    pLocation = argv[2];
    if (isatty(STDERR_FILENO))
        StartProgressLine(STDERR_FILENO);
    Install(nullptr, nullptr, nullptr);
    return ReportedStatus();
}

int RunWizardInTerminal(char**)
{
    return RunTerminalWizard();
}

int Uninstall(char** argv)
{
    return UninstallProduct(argv[2]);
}

int PrintVersion(char**)
{
    std::printf("Ovelo 8 installer %s\n", OVELO8_VERSION);
    return 0;
}

int PrintUsage(char** argv);

const Option kOptions[] = {
    {"-s", "DIRECTORY", "install into DIRECTORY, asking nothing", RunMode::kSilent,
     InstallSilently},
    {"--uninstall", "DIRECTORY", "remove what the installation into DIRECTORY put there",
     RunMode::kReport, Uninstall},
    {"--text", nullptr, "run the wizard in this terminal, even where a display answers",
     RunMode::kTerminal, RunWizardInTerminal},
    {"--info", nullptr, "describe the file: its sizes, its seal, the room the product needs",
     RunMode::kReport, ShowInfo},
    {"--list", nullptr, "list the product's entries as they would be installed",
     RunMode::kReport, ListContents},
    {"--check", nullptr, "read and check the whole file, installing nothing", RunMode::kReport,
     CheckFile},
    {"--verify", "DIRECTORY", "compare DIRECTORY with what this file installs", RunMode::kReport,
     VerifyInstallation},
    {"--version", nullptr, "print the installer's version", RunMode::kReport, PrintVersion},
    {"--help", nullptr, "print this help", RunMode::kReport, PrintUsage},
};

std::string Synopsis(const Option& option)
{
    return option.operand ? std::string(option.name) + " " + option.operand : option.name;
}

// The options without an operand share one line of the synopsis.
void PrintSynopsis(const char* file)
{
    std::printf("Usage: %s [TOOLKIT-OPTION...]\n", file);
    std::string alone;
    for (const Option& option : kOptions) {
        if (option.operand)
            std::printf("       %s %s\n", file, Synopsis(option).c_str());
        else
            alone += (alone.empty() ? "" : " | ") + std::string(option.name);
    }
    std::printf("       %s %s\n", file, alone.c_str());
}

void PrintOptions()
{
    std::size_t width = 0;
    for (const Option& option : kOptions)
        width = std::max(width, Synopsis(option).size());
    std::printf("Each of these is recognised only as the whole command line:\n");
    for (const Option& option : kOptions)
        std::printf("  %-*s  %s\n", static_cast<int>(width), Synopsis(option).c_str(),
                    option.summary);
}

int PrintUsage(char** argv)
{
    PrintSynopsis(Shown(argv[0]).c_str());
    std::printf(
        "\n"
        "Installs Ovelo 8.  Without arguments, or with toolkit options only, the\n"
        "wizard opens a window on the X display.  Where no display can be opened\n"
        "and standard input and output are a terminal, the wizard runs in the\n"
        "terminal instead.\n"
        "\n");
    PrintOptions();
    std::printf(
        "\n"
        "Toolkit options, for the window: -display DISPLAY, -geometry GEOMETRY,\n"
        "-xrm 'RESOURCE: VALUE', -name NAME and the X Toolkit's other standard\n"
        "options.\n"
        "\n"
        "After an installation by the wizard, in the window or the terminal, the\n"
        "settings file $HOME/.Quorvex_ZembraSDK_60 is written and the player\n"
        "DIRECTORY/ovelo is started; a silent installation does neither.\n"
        "\n"
        "Exit status: 0 done, or cancelled; 1 a failure was reported (--verify:\n"
        "DIRECTORY differs); 2 a usage error (--verify: it can not tell); 3 another\n"
        "installation or removal in DIRECTORY is under way; 129, 130 or 143\n"
        "interrupted by a hang-up, Ctrl-C or SIGTERM, the destination put back as\n"
        "it was.\n");
    return 0;
}

// The X Toolkit's standard options, with what each takes; parsed by the
// parser the toolkit uses, so that what it would take (abbreviations too)
// is taken here.
struct ToolkitOption {
    const char* option;
    const char* specifier;
    XrmOptionKind kind;
    const char* value;
};

constexpr ToolkitOption kToolkitOptions[] = {
    {"-background", "*background", XrmoptionSepArg, nullptr},
    {"-bd", "*borderColor", XrmoptionSepArg, nullptr},
    {"-bg", "*background", XrmoptionSepArg, nullptr},
    {"-bordercolor", "*borderColor", XrmoptionSepArg, nullptr},
    {"-borderwidth", ".borderWidth", XrmoptionSepArg, nullptr},
    {"-bw", ".borderWidth", XrmoptionSepArg, nullptr},
    {"-display", ".display", XrmoptionSepArg, nullptr},
    {"-fg", "*foreground", XrmoptionSepArg, nullptr},
    {"-fn", "*font", XrmoptionSepArg, nullptr},
    {"-font", "*font", XrmoptionSepArg, nullptr},
    {"-foreground", "*foreground", XrmoptionSepArg, nullptr},
    {"-geometry", ".geometry", XrmoptionSepArg, nullptr},
    {"-iconic", ".iconic", XrmoptionNoArg, "on"},
    {"-name", ".name", XrmoptionSepArg, nullptr},
    {"-reverse", ".reverseVideo", XrmoptionNoArg, "on"},
    {"-rv", ".reverseVideo", XrmoptionNoArg, "on"},
    {"+rv", ".reverseVideo", XrmoptionNoArg, "off"},
    {"-selectionTimeout", ".selectionTimeout", XrmoptionSepArg, nullptr},
    {"-synchronous", ".synchronous", XrmoptionNoArg, "on"},
    {"+synchronous", ".synchronous", XrmoptionNoArg, "off"},
    {"-title", ".title", XrmoptionSepArg, nullptr},
    {"-xnllanguage", ".xnlLanguage", XrmoptionSepArg, nullptr},
    {"-xrm", nullptr, XrmoptionResArg, nullptr},
    {"-xtsessionID", ".sessionID", XrmoptionSepArg, nullptr},
};

// The table as the parser takes it, which does not change it.
std::vector<XrmOptionDescRec> ToolkitOptionTable()
{
    std::vector<XrmOptionDescRec> table;
    for (const ToolkitOption& option : kToolkitOptions)
        table.push_back({const_cast<char*>(option.option), const_cast<char*>(option.specifier),
                         option.kind, const_cast<char*>(option.value)});
    return table;
}

// The first argument the toolkit would not take, or null when it takes
// them all.
const char* NotForTheToolkit(int argc, char** argv)
{
    std::vector<char*> left(argv, argv + argc);
    int count = argc;
    XrmDatabase taken = nullptr;
    XrmInitialize();
    std::vector<XrmOptionDescRec> table = ToolkitOptionTable();
    XrmParseCommand(&taken, table.data(), static_cast<int>(table.size()), "ovelo8", &count,
                    left.data());
    XrmDestroyDatabase(taken);
    return count > 1 ? left[1] : nullptr;  // the parse only moves the pointers
}

// A toolkit option that takes a value, named whole or by the start of its
// name.
bool TakesValue(const char* word)
{
    const std::size_t length = std::strlen(word);
    for (const ToolkitOption& option : kToolkitOptions)
        if (length > 1 && std::strncmp(option.option, word, length) == 0 &&
            (option.kind == XrmoptionSepArg || option.kind == XrmoptionResArg))
            return true;
    return false;
}

int UsageError(const Outcome& outcome)
{
    runMode = RunMode::kReport;
    Report(outcome);
    return ReportedStatus();
}

// A report that can not be written (a full disk, a closed pipe) is a
// failure, not a success.
int Reported(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    Report(Found(Fault::kReportUnwritten, "", errno));
    return ReportedStatus();
}

// Memory running out where no step words it is said as such too.
int RunShort(const Option& option, char** argv)
{
    try {
        return option.run(argv);
    } catch (const std::bad_alloc&) {
        Report(Found(Fault::kOutOfMemory));
        return ReportedStatus();
    }
}

int Run(const Option& option, char** argv)
{
    runMode = option.mode;
    if (option.mode != RunMode::kReport)
        return RunShort(option, argv);
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe fails the write instead
    return Reported(RunShort(option, argv));
}

}  // namespace

std::optional<int> RunCommandLineOption(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    for (const Option& option : kOptions) {
        if (std::strcmp(argv[1], option.name) != 0)
            continue;
        const int count = option.operand ? 3 : 2;
        if (argc < count) {
            Outcome missing = Found(Fault::kUsageMissingOperand, option.name);
            missing.other = option.operand;
            return UsageError(missing);
        }
        if (argc > count)
            return UsageError(Found(Fault::kUsageNotUnderstood, argv[count]));
        return Run(option, argv);
    }
    if (const char* word = NotForTheToolkit(argc, argv)) {
        if (word != argv[argc - 1] || !TakesValue(word))
            return UsageError(Found(Fault::kUsageNotUnderstood, word));
        Outcome missing = Found(Fault::kUsageMissingOperand, word);
        missing.other = "value";
        return UsageError(missing);
    }
    return std::nullopt;
}
