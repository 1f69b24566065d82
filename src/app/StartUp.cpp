#include "app/StartUp.h"

#include "app/ColorSwitches.h"
#include "app/DisplayCheck.h"
#include "app/MainForm.h"
#include "app/ProgramInfo.h"
#include "app/RemoteControl.h"
#include "app/RenderSwitch.h"
#include "app/ShowStart.h"
#include "app/SignalWatch.h"
#include "audio/SoundDevice.h"
#include "base/Assert.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "base/NumberText.h"
#include "base/Process.h"
#include "framework/Application.h"
#include "framework/CommandLine.h"
#include "framework/ErrorBox.h"
#include "package/FolderPath.h"
#include "package/OutsideReads.h"
#include "package/ProgramFolder.h"
#include "package/WindowsPath.h"
#include "project/ShowOpen.h"
#include "project/ShowOpenHooks.h"
#include "render/Engine.h"
#include "render/gl/EngineGL.h"
#include "viewer/ProgramRunner.h"
#include "viewer/ShowViewerEngine.h"

#include <SDL.h>

#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace kiv {

namespace {

// Every switch the player reads: its own, the viewer's display switches, "-startup" and the
// headless renderer's.
constexpr std::string_view kKnownSwitches[] = {"filelog",      "log",     "noicc",   "icc",    "cover",
                                               "filename",     "exename", "slide",   "time",   "startup",
                                               "desktopalign", "resize",  "display", "render", "-help",
                                               "info",         "size",    "fps",     "from",   "to",
                                               "crf",          "fullscreen", "window",
                                               "allowprograms", "noprograms"};

void PrintHelp() {
    std::fputs(PlayerSynopsis(), stdout);
    std::puts(
        "\n"
        "Plays a packaged slide show: a .kvshow file, an application bundle (.app), a player with a\n"
        "show appended to it, or a project file (.kiv). Without a show the player opens the package\n"
        "appended to its own executable. The show plays in a window or full screen, as its project\n"
        "says, until it ends or is closed.\n"
        "\n"
        "  -exename SHOW     the show package to open (a name without a package also tries SHOW.kvshow)\n"
        "  -filename FILE    a project file to play from disk\n"
        "  -slide N          start at slide N (from 1)\n"
        "  -time MS          start at MS milliseconds (the show seeks to MS - 1)\n"
        "  -log              write the log to standard error\n"
        "  -filelog          write the log to a file beside the program (PROGRAM.log)\n"
        "  -noicc            no colour management\n"
        "  -icc PROFILE      output colour profile; auto: the file named by KIV_DISPLAY_ICC\n"
        "  -cover            the show covers the whole window (cropping) instead of fitting inside it\n"
        "  -resize           a framed show window can be resized\n"
        "  -display N        the show window goes to monitor N (from 1)\n"
        "  -desktopalign     the show window is centred on the whole desktop (all monitors)\n"
        "  -fullscreen       play full screen whatever the show says\n"
        "  -window           play in a framed window of the show's size whatever the show says\n"
        "  -startup          the window stays on top; Enter ends the show with exit code 1\n"
        "  -allowprograms    the show may start programs and read files outside its folder without\n"
        "                    asking (kiosks); without it the player asks once per show\n"
        "  -noprograms       the show starts no program and reads nothing outside its folder, without\n"
        "                    asking\n"
        "  -info             open the show, print one line about it and end without playing\n"
        "  -render OUT [-size WxH] [-fps N] [-from MS] [-to MS]\n"
        "                    play headlessly and write every frame into the folder OUT as\n"
        "                    frame-000001.png, ... (default 1280x720, 25 fps, one pass of the show)\n"
        "  -render OUT.mp4|OUT.mkv|OUT.webm [-crf N]\n"
        "                    the same frames and the show's sound as one video (H.264 and AAC, or\n"
        "                    VP9 and Opus in .webm); -crf: quality, lower is better\n"
        "  --version         print the version\n"
        "\n"
        "While a show plays, playerctl and media keys drive it (MPRIS on the session bus).\n"
        "\n"
        "Keys (unless the show locks them): Right, Down, Page Down: next slide; Left, Up, Page Up:\n"
        "previous slide; Space, Pause, Ctrl+P: pause and resume; Home, End: first and last slide;\n"
        "F1: help; F11 or a double-click on the picture: full screen on and off; Escape: end. The\n"
        "mouse wheel seeks (with Ctrl: a slide per notch). The pointer hides after 2 s at rest and\n"
        "comes back when it moves. The window's title names the show.\n"
        "\n"
        "Exit codes: 0; 1 when the show ended through its own exit action; 2 when the show could not\n"
        "be opened or played (the reason is in the \"Slideshow Error\" box, or on standard error).");
}

// A line for the person at the console, also written to the log.
void ConsoleNote(const std::string& text) {
    TLog::Line(text);
    const std::string line = "kivviewer: " + text + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

// Switches the player ignores are still ignored, but not silently.
void WarnAboutSwitches(const TCommandLine& commandLine) {
    for (const std::string& name : commandLine.UnknownSwitches(kKnownSwitches)) {
        // Words after a switch are its values: a show named after an unknown switch is not opened,
        // so say which words went with it.
        std::string taken;
        for (std::size_t i = 0; const std::optional<std::string> value = commandLine.Value(name, i); ++i)
            taken += (taken.empty() ? " (with its value " : " ") + *value;
        ConsoleNote("unknown switch -" + name + " ignored" + (taken.empty() ? "" : taken + ")"));
    }
    for (const char* name : {"slide", "time"}) {
        if (!commandLine.HasSwitch(name)) continue;
        const std::optional<std::string> value = commandLine.Value(name);
        if (!value)
            ConsoleNote(std::string("-") + name + " without a value ignored");
        else if (!ParseInt32(*value))
            ConsoleNote(std::string("-") + name + " " + *value + " is not a whole number; ignored");
    }
    if (commandLine.HasSwitch("slide") && commandLine.HasSwitch("time"))
        ConsoleNote("-time ignored: -slide comes first");
}

std::string ProgramFileName(const char* argv0) {
    std::error_code error;
    if (!argv0 || !*argv0) return OwnExecutablePath();
    const auto path = std::filesystem::absolute(argv0, error);
    return error ? std::string(argv0) : path.lexically_normal().string();
}

std::string WorkingFolder() {
    std::error_code error;
    const auto path = std::filesystem::current_path(error);
    return error ? std::string() : path.string();
}

std::string Summary(const TOpenShowResult& opened) {
    std::string line = "kivviewer: " + opened.showPath + ": ";
    TKivSource& source = opened.show->ParsedProject();
    const std::int32_t count = source.SlideCount();
    line +=
        std::to_string(count) + (count == 1 ? " slide, " : " slides, ") + FormatShowDuration(source.Period());
    if (opened.seekTime) line += ", starting at " + FormatShowDuration(*opened.seekTime);
    return line;
}

void PrintSummary(const TOpenShowResult& opened) {
    const std::string summary = Summary(opened);
    TLog::Line(summary);
    std::puts(summary.c_str());
    std::fflush(stdout);
}

// "-info": choose the show, open it, report it, and play nothing; "-render": play it headlessly.
void DescribeFirstShow(const TCommandLine& commandLine, const std::string& programPath) {
    const TShowStart start = ChooseShowStart(commandLine, programPath, WorkingFolder());
    TOpenShowRequest request;
    request.name = start.name;
    request.asPackage = !start.projectFileGiven;
    request.timeGiven = start.timeGiven;
    request.position = start.position;
    request.checkPassword = true;
    TLog::Line("Open show: " + start.name);
    TOpenShowResult opened;
    try {
        opened = OpenShow(request, commandLine);
    } catch (const std::exception& error) {
        // Words of a lower layer ("buffer error") get the show's name in the box and their
        // meaning beside it.
        opened.message = std::string(error.what()) + "\r\"" + start.name + "\"";
        opened.details = {start.name + ": " + FailureCause(error)};
    }
    if (!opened.ok) {
        if (!opened.message.empty()) {
            ShowErrorBox(opened.message);
            SetProcessExitCode(kExitOpenFailed);
        }
        for (const std::string& line : opened.details)
            ConsoleNote(line);
        return;
    }
    if (commandLine.HasSwitch("render")) {
        SetProcessExitCode(RunRenderSwitch(commandLine, *opened.show));
        return;
    }
    PrintSummary(opened);
}

TKivShowViewer::TEngineFactory EngineFactory(TZkApplication& application, const TCommandLine& commandLine,
                                             const std::string& programFileName) {
    const bool cover = commandLine.HasSwitch("cover");
    return [&application, cover, programFileName](TDrawDevice& device) -> TRef<TViewerEngine> {
        TKivEngineSetup setup;
        setup.cover = cover;
        setup.programFileName = programFileName;
        setup.parseAction = ParseEngineAction;
        // The show clock follows the sound card; without one the player keeps process time.
        setup.musicDevice = TSoundDevice::Create();
        TRef<TKivEngine> engine = TKivEngine::Create(&device, false, std::move(setup), &application);
        // While the engine thread ends, the main thread keeps answering it.
        return MakeRef<TKivEngineLink>(std::move(engine), [&application] {
            application.ProcessPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    };
}

// The main window: made, given the first show, then the message loop runs until it closes.
void PlayFirstShow(TZkApplication& application, const TCommandLine& commandLine, const std::string& programPath,
                   std::unique_ptr<TMainForm>& form) {
    const TShowStart start = ChooseShowStart(commandLine, programPath, WorkingFolder());
    form = std::make_unique<TMainForm>(application, commandLine, programPath,
                                       EngineFactory(application, commandLine, ShowProgramFileName()));
    application.SetNativeEventHandler([&form](const SDL_Event& event) {
        if (form) form->HandleEvent(event);
    });
    // Only the first show is described on standard output.
    form->OnShowOpened = [first = true](const TOpenShowResult& opened) mutable {
        if (first) PrintSummary(opened);
        first = false;
    };
    if (!form->OpenFirstShow(start.name, !start.projectFileGiven, start.timeGiven, start.position)) {
        if (form->LastOpenFailedWithMessage()) SetProcessExitCode(kExitOpenFailed);
        application.Terminate();
    }
}

// Blocks of 256 KiB and more (decoded pictures, their reduced levels, texture tiles) are mapped on
// their own and go back to the system when freed. By default glibc raises that threshold to the
// largest block freed so far (up to 32 MiB); after the first pictures, levels of a few MB come
// from a thread's heap instead, and the holes that pictures of later slides leave there stay
// resident: a show of 4000 x 3000 pictures kept 50 to 70 MB of freed memory that way, swinging
// from slide to slide, against 2 MB with the threshold fixed.
void KeepLargeBlocksMapped() {
#ifdef __GLIBC__
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

} // namespace

std::string OwnExecutablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string FormatShowDuration(double milliseconds) {
    if (!std::isfinite(milliseconds) || milliseconds < 0) milliseconds = 0;
    const long long tenths = std::llround(milliseconds / 100.0);
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

int RunPlayer(int argc, char** argv) {
    KeepLargeBlocksMapped();
    // First, before any thread exists: every later thread inherits the blocked signals.
    std::optional<TSignalWatch> signals;
    try {
        signals.emplace();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kivviewer: %s; SIGINT and SIGTERM keep their default action\n", error.what());
    }
    SetProcessCommandLine(TCommandLine::FromArguments(argc, argv));
    const TCommandLine& commandLine = ProcessCommandLine();
    if (commandLine.HasToken("--help")) {
        PrintHelp();
        return 0;
    }
    if (commandLine.HasToken("--version")) {
        std::printf("kivviewer %s\n", ProgramVersion());
        return 0;
    }
    std::string programPath = OwnExecutablePath();
    if (programPath.empty()) programPath = ProgramFileName(argc > 0 ? argv[0] : nullptr);
    SetProgramFolder(FolderPart(programPath));
    // The screen-saver mode follows the name the program was started by (a link "show.scr" counts).
    SetShowProgramFileName(ProgramFileName(argc > 0 ? argv[0] : nullptr));

    // Critical-error boxes of the system (the process error mode) do not exist here.
    const bool pngLibraryBeside = DiskFileExists(MakeFolderPath(ProgramFolder(), "..\\Common\\zkPngLib.dll"));

    if (DisplayColorDepthTooLow()) {
        ShowErrorBox(kColorDepthMessage);
        return ProcessExitCode();
    }

    TLogMode logMode = TLogMode::None;
    if (commandLine.HasSwitch("filelog"))
        logMode = TLogMode::File;
    else if (commandLine.HasSwitch("log"))
        logMode = TLogMode::Debug;
    TLog::Start(logMode, programPath);
    WarnAboutSwitches(commandLine);
    if (pngLibraryBeside)
        TLog::Line("..\\Common\\zkPngLib.dll was ignored: PNG pictures decode through the linked libpng");

    SetColorCommandLine(ReadColorSwitches(commandLine, DisplayProfileFile()));
    InstallColorApplyHook();
    InstallShowOpenHooks();

    TRef<TZkApplication> application = MakeRef<TZkApplication>();
    try {
        application->Prepare();
    } catch (const std::exception& error) {
        TLog::Line(std::string("Application not prepared: ") + error.what());
    }
    // "-info" and "-render" play nothing in a window.
    const bool describeOnly = commandLine.HasSwitch("info") || commandLine.HasSwitch("render");
    if (!describeOnly) T3DEngine::SetFactory(CreateEngineGL);
    // Headless output plays the show only: nobody could answer for a program it starts.
    if (describeOnly) {
        TProgramRunner::ForbidStarts();
        // Files outside the show are read only when the switch allows it: nobody could be asked.
        if (commandLine.HasSwitch("allowprograms") && !commandLine.HasSwitch("noprograms"))
            SetOutsideReadPolicy(TOutsideReadPolicy::AllowAll);
    }
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TRemoteControl> remote;
    try {
        if (describeOnly)
            DescribeFirstShow(commandLine, programPath);
        else
            PlayFirstShow(*application, commandLine, programPath, form);
    } catch (const EAssertionFailed& failure) {
        // A broken check while the show opened ends the run with the error box, not with a crash.
        LogAbandoned(failure);
        ShowErrorBox(failure.Message());
        SetProcessExitCode(kExitOpenFailed);
    } catch (const std::exception& error) {
        TLog::Line(std::string("Main window not created: ") + error.what());
        ShowErrorBox(error.what());
        SetProcessExitCode(kExitOpenFailed);
    }
    // Without a main window the message loop ends at once.
    if (!form || describeOnly) application->Terminate();
    // playerctl and media keys drive the show through the session bus, when there is one.
    if (form && !describeOnly && !application->QuitRequested())
        remote = std::make_unique<TRemoteControl>(*application, *form);
    if (application->Prepared()) application->Run();
    if (commandLine.HasToken("-startup")) {
        // The program that started us named its window last on the command line; bringing another
        // program's window to the front is the window manager's decision here.
        TLog::Line("Startup mode: the caller's window is left to the window manager");
    }
    remote.reset();
    try {
        form.reset();
    } catch (const EAssertionFailed& failure) {
        LogAbandoned(failure);
    } catch (const std::exception& error) {
        TLog::Line(std::string("Exception at MainForm.Free (") + error.what() + ")");
    }
    application->SetNativeEventHandler(nullptr);

    try {
        SetCurrentShow(nullptr);
    } catch (const EAssertionFailed& failure) {
        LogAbandoned(failure);
    } catch (const std::exception& error) {
        TLog::Line(std::string("Exception at MainForm.Free (") + error.what() + ")");
    }
    application = nullptr;
    // Started with no show and none appended: the error, then how to name one.
    if (ProcessExitCode() == kExitOpenFailed && NoShowNamed(commandLine))
        std::fputs(PlayerSynopsis(), stderr);
    TLog::Finish();
    return ProcessExitCode();
}

} // namespace kiv
