// The program's entry: reads the command line, installs the platform, runs the contest, reports errors.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/Contestants.h"
#include "app/Options.h"
#include "app/OutputFile.h"
#include "app/ResultFile.h"
#include "app/Run.h"
#include "app/Trace.h"
#include "app/modMain.h"
#include "backends/memory/Headless.h"
#include "backends/sdl/SdlApp.h"
#include "backends/sdl/SdlClock.h"
#include "backends/sdl/SdlForm.h"
#include "backends/sdl/SdlPicture.h"
#include "display/Panel.h"
#include "display/frmMain.h"
#include "platform/Errors.h"
#include "platform/Picture.h"
#include "platform/ProgramFolder.h"
#include "platform/Sandbox.h"
#include "platform/StopSignals.h"
#include "replay/MatchSession.h"
#include "sprites/clsSprites.h"

using namespace brakkenfel;

namespace {

// Descriptors 0, 1 and 2 closed at start would be handed to the first files and connections opened,
// and notices meant for stderr would land in the trace or the X connection: hold them on /dev/null.
void OpenStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null < 0) _exit(127);  // nothing safe to report on
        if (null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

int RunWindowed(const Options& options, ContestHost& host) {
    std::string why;
    if (!OpenVideo(why)) {
        std::fprintf(stderr, "brakkenfel: %s (use --headless to run without a window)\n", why.c_str());
        return 1;
    }
    host.CreateMainWindow = [scale = options.Scale] { return CreateSdlForm(scale); };
    const int status = RunWindowContest(options, host);
    CloseVideo();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    OpenStandardDescriptors();
    InstallStopSignals();
    Options chosen;
    std::string why;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), chosen, why)) {
        std::fprintf(stderr, "brakkenfel: %s\n", why.c_str());
        return 2;
    }
    if (chosen.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (chosen.Version) {
        std::printf("brakkenfel %s\n", BRAKKENFEL_VERSION);
        return 0;
    }
    if (!CheckOutputPaths(chosen, PicturePath(ProgramFolder()), why)) {
        std::fprintf(stderr, "brakkenfel: %s\n", why.c_str());
        return 2;
    }
    // A folder granted to the programs that they could not write to is a slip on the command line,
    // like an output that cannot be written: found before anything is made or started.
    const bool programs = chosen.Cannon.Is == ContestantKind::Type::Program ||
                          chosen.Helicopter.Is == ContestantKind::Type::Program;
    if (chosen.ReplayPath.empty() && programs) {
        std::string granted;
        if (!CheckWriteGrant(chosen.Sandbox, granted, why)) {
            std::fprintf(stderr, "brakkenfel: %s\n", Printable(why).c_str());
            return 2;
        }
    }

    // Outside the try: an error must stop the contestant programs before it is reported, since
    // the report may wait on a message box.
    ContestantRoster roster(chosen, std::cerr);
    ResultFile result(chosen.ResultPath);
    MatchSession match(chosen);
    auto fail = [&](std::int32_t number, const char* text) {
        roster.Release();
        try {
            result.Commit(ResultJson(match.ResultOptions(chosen), Score, match.Summaries(roster.Summaries()),
                                     {StopSignalNumber() != 0, number, text}));
        } catch (const RuntimeError& error) {
            std::fprintf(stderr, "brakkenfel: no result file: %s\n", error.what());
        }
        // A start-up that failed half-way leaves the guns it built in the registry, and perhaps the
        // window: released here, while SDL is still open, never by a static destructor.
        Sprites.reset();
        frmMain.reset();
        ShowErrorReport(number, text);
        return 1;
    };
    try {
        // Every check before any output is made: a refused run leaves every file as it was. The
        // picture strip is read once here for that alone; set-up reads it again.
        SetPictureLoader(SdlPictureLoader());
        try {
            LoadPicture(PicturePath(ProgramFolder()));
        } catch (const RuntimeError&) {
            // In the window the error is shown in one, as when set-up found it.
            if (!chosen.Headless && !OpenVideo(why)) why.clear();
            throw;
        }
        match.Open();
        for (const auto& [path, what] : {std::pair{&chosen.TracePath, "the trace"}, std::pair{&chosen.SnapshotPath, "the snapshot"},
                                         std::pair{&chosen.ResultPath, "the result"}, std::pair{&chosen.RecordPath, "the match"},
                                         std::pair{&chosen.ProtocolLogPath, "the protocol log"}}) {
            if (!path->empty()) CheckWritable(*path, what);
        }
        // Under --sandbox require the programs start before any output is made, so that a machine
        // that cannot give them their whole sandbox refuses the run with every file as it was.
        if (chosen.Sandbox.Mode == SandboxMode::Require && !match.Replaying()) roster.StartPrograms();
        result.Open();
        match.OpenRecording();
        SdlClock clock;
        ContestHost host;
        host.TickClock = &clock;
        host.ProgramFolder = ProgramFolder();
        host.MakeContestant = [&roster, &match](const std::string& gunName) {
            return match.Replaying() ? match.MakeReplay(gunName) : roster.Make(gunName);
        };
        match.Install(host);
        if (!chosen.ProtocolLogPath.empty()) {
            // A full disk under the log stops the run as one under the trace does.
            host.AfterMove = [&roster, outer = host.AfterMove] {
                roster.CheckLog();
                if (outer) outer();
            };
        }
        host.AfterFrame = [&match] { match.FlushWaiting(); };
        {
            const Options described = match.ResultOptions(chosen);
            PanelRun.Kinds = {described.Cannon, described.Helicopter};
            PanelRun.Replay = match.Replaying();
            PanelRun.Total = match.TotalMoves();
        }
        // The display may vanish under the window: stop the contestants and flush what was written.
        SetDisplayLostHandler([&roster, &match] {
            roster.Release();
            RunOutputs::FlushLive();
            try {
                match.Finish();
            } catch (const RuntimeError&) {
                // The recording keeps what reached it; the process is leaving either way.
            }
            std::fflush(nullptr);
        });
        const int status =
            chosen.Headless ? RunHeadless(match.HeadlessOptions(chosen), host) : RunWindowed(chosen, host);
        roster.Finish();
        match.Finish();
        result.Commit(ResultJson(match.ResultOptions(chosen), Score, match.Summaries(roster.Summaries()),
                                 {StopSignalNumber() != 0, 0, {}}));
        return status;
    } catch (const StoppedDuringStart&) {
        // A stop signal ended a wait of the start-up (a FIFO's reader or writer): an interrupted run.
        roster.Release();
        Sprites.reset();
        frmMain.reset();
        if (VideoOpen()) CloseVideo();
        ReportInterruption(0);
        try {
            result.Commit(ResultJson(match.ResultOptions(chosen), Score, match.Summaries(roster.Summaries()),
                                     {true, 0, {}}));
        } catch (const RuntimeError& error) {
            std::fprintf(stderr, "brakkenfel: no result file: %s\n", error.what());
        }
        return EndStatus(true);
    } catch (const SandboxRefused& refused) {
        // The machine's shortcoming, not a program's: no match is played, no result says otherwise.
        roster.Release();
        Sprites.reset();
        frmMain.reset();
        if (VideoOpen()) CloseVideo();
        std::fprintf(stderr, "brakkenfel: --sandbox require refuses the run: %s\n", Printable(refused.what()).c_str());
        return 3;
    } catch (const RuntimeError& error) {
        return fail(error.Number(), error.what());
    } catch (const std::exception& error) {
        return fail(ErrOutOfMemory, error.what());
    }
}
