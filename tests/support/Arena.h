// Shared by tests and benchmarks: a clean registry, the real set-up on an in-memory window, error numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "app/modMain.h"
#include "app/modTicks.h"
#include "bullets/modBulletAndGravity.h"
#include "contest/clsAI.h"
#include "backends/memory/MemoryForm.h"
#include "platform/Errors.h"
#include "tests/support/FakeClock.h"
#include "platform/Picture.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

/// The number of the RuntimeError `call` raises, or 0 when it raises none; its text goes to `text` if given.
template <class Call>
std::int32_t ErrorOf(Call&& call, std::string* text = nullptr) {
    try {
        call();
    } catch (const RuntimeError& error) {
        if (text) *text = error.what();
        return error.Number();
    }
    return 0;
}

/// An empty registry and built angle tables while it lives; afterwards no registry, bullet or loader is left.
struct FreshRegistry {
    FreshRegistry() {
        Sprites = std::make_shared<clsSprites>();
        BuildTrigTables();
    }
    ~FreshRegistry() {
        Sprites.reset();
        EraseBullets();
        SetPictureLoader(nullptr);
    }
    FreshRegistry(const FreshRegistry&) = delete;
    FreshRegistry& operator=(const FreshRegistry&) = delete;
};

/// What a run needs on an in-memory window and a scripted 10 MHz clock; on leaving, every piece of
/// program-wide state a run touches is cleared, whether or not the run tore itself down.
struct MemoryHost {
    /// Installs `loader` for the guns' strip (every load gets a blank 256 x 16 strip when none is given).
    explicit MemoryHost(PictureLoader loader = {}) {
        SetPictureLoader(loader ? std::move(loader) : [](const std::string&) {
            return std::make_shared<Picture>(std::make_shared<GdiBitmap>(256, 16));
        });
        Host.TickClock = &Clock;
        Host.ProgramFolder = "/opt/arena";
        Host.MakeContestant = [](const std::string&) { return std::make_shared<clsAI>(); };
        Host.CreateMainWindow = [this] {
            ++WindowsCreated;
            return Form;
        };
    }
    ~MemoryHost() {
        QuitRequested = 0;
        ResetTicks();
        frmMain.reset();
        Sprites.reset();
        EraseBullets();
        SetPictureLoader({});
    }
    MemoryHost(const MemoryHost&) = delete;
    MemoryHost& operator=(const MemoryHost&) = delete;

    FakeClock Clock{10'000'000};                                      ///< the loop's clock
    std::shared_ptr<MemoryForm> Form = std::make_shared<MemoryForm>();  ///< the window every set-up gets
    ContestHost Host;                                                 ///< RunContest's or SetUpContest's argument
    int WindowsCreated = 0;                                           ///< how often set-up asked for a window
};

/// The arena as start-up leaves it (the real SetUpContest), torn down again on leaving.
struct MemoryArena : MemoryHost {
    /// Sets up with `loader` serving the guns' strip.
    explicit MemoryArena(PictureLoader loader = {}) : MemoryHost(std::move(loader)) { SetUpContest(Host); }
    ~MemoryArena() { TearDownContest(); }
};

}  // namespace brakkenfel
