// The program's entry: reads the command line, installs the platform, runs the contest, reports errors.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/Contestants.h"
#include "app/Headless.h"
#include "app/Options.h"
#include "app/modMain.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"
#include "platform/sdl/SdlApp.h"
#include "platform/sdl/SdlClock.h"
#include "platform/sdl/SdlForm.h"
#include "platform/sdl/SdlPicture.h"

using namespace brakkenfel;

namespace {

int RunWindowed(ContestHost& host) {
    std::string why;
    if (!OpenVideo(why)) {
        std::fprintf(stderr, "brakkenfel: %s (use --headless to run without a window)\n", why.c_str());
        return 1;
    }
    host.CreateMainWindow = [] { return CreateSdlForm(); };
    RunContest(host);
    CloseVideo();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    OptionsError optionsError;
    const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), optionsError);
    if (!options) {
        std::fprintf(stderr, "brakkenfel: %s\n", optionsError.Message.c_str());
        return 2;
    }
    if (options->Help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options->Version) {
        std::printf("brakkenfel %s\n", BRAKKENFEL_VERSION);
        return 0;
    }

    try {
        SdlClock clock;
        ContestHost host;
        host.TickClock = &clock;
        host.ProgramFolder = ProgramFolder();
        host.MakeContestant = [&options](const std::string& gunName) { return MakeContestant(*options, gunName); };
        SetPictureLoader(SdlPictureLoader());
        InstallStopSignals();
        if (options->Headless) return RunHeadless(*options, host, TakeStopSignal);
        return RunWindowed(host);
    } catch (const RuntimeError& error) {
        ShowErrorReport(error.Number(), error.what());
    } catch (const std::exception& error) {
        ShowErrorReport(ErrOutOfMemory, error.what());
    }
    return 1;
}
