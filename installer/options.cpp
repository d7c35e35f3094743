// The command lines answered without the window: the silent installation,
// the wizard in the terminal, and what the file tells about itself.  One
// row each; a row is recognised only as the whole command line, so any
// other command line, a toolkit option in front of one of these included,
// still opens the wizard.
#include "options.h"

#include "examine.h"
#include "messages.h"
#include "progress_line.h"
#include "state.h"
#include "terminal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

namespace {

struct Option {
    const char* name;     // the first argument, compared whole
    const char* operand;  // what the one argument after it names; null: none
    const char* summary;  // its line in the usage
    RunMode mode;         // none has a window: messages go to standard error
    int (*run)(char** argv);  // returns the exit status
};

// Exits 0 when the product was installed, 1 after a reported failure.  On
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
    {"--version", nullptr, "print the installer's version", RunMode::kReport, PrintVersion},
    {"--help", nullptr, "print this help", RunMode::kReport, PrintUsage},
};

// Memory may run short in any of them: said as such, not as a crash.
int Run(const Option& option, char** argv)
{
    try {
        return option.run(argv);
    } catch (const std::bad_alloc&) {
        Report(Found(Fault::kOutOfMemory));
        return ReportedStatus();
    }
}

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
        "Exit status: 0 done, or cancelled; 1 a failure was reported; 129, 130\n"
        "or 143 interrupted by a hang-up, Ctrl-C or SIGTERM, the destination put\n"
        "back as it was.\n");
    return 0;
}

}  // namespace

std::optional<int> RunCommandLineOption(int argc, char** argv)
{
    for (const Option& option : kOptions) {
        const int count = option.operand ? 3 : 2;
        if (argc == count && std::strcmp(argv[1], option.name) == 0) {
            runMode = option.mode;
            return Run(option, argv);
        }
    }
    return std::nullopt;
}
