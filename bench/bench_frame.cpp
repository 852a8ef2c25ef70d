// Benchmark of one frame: clear, bullets, both guns, the block transfer and the label check.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "display/BackBuffer.h"
#include "display/ComposeFrame.h"
#include "display/MemoryForm.h"
#include "platform/Picture.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {
namespace {

// A gun that never acts: the frame is measured, not the contest.
class Idle : public Sprite {
public:
    void Initialize(std::shared_ptr<SpriteActions>&, SpriteEnemyList&) override {}
    void Update() override {}
};

// The field as start-up leaves it: an in-memory window, the back buffer and both guns, plus
// `bullets` bullets standing still across the field.
void SetUpField(std::int64_t bullets) {
    SetPictureLoader([](const std::string&) {
        auto strip = std::make_shared<GdiBitmap>(256, 16);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 256; ++x) strip->Row(y)[x] = 0x204010u + static_cast<std::uint32_t>(x * y);
        return std::make_shared<Picture>(strip);
    });
    auto form = std::make_shared<MemoryForm>();
    frmMain = form;
    form->Show();
    form->SetScaleModePixels();
    BackWidth = static_cast<std::int32_t>(form->ScaleWidth());
    BackHeight = static_cast<std::int32_t>(form->ScaleHeight());
    CreateBackBuffer(form->PictureBoxDC());
    Sprites = std::make_shared<clsSprites>();
    CannonIndex = Sprites->AddSprite("Cannon", 20.0f, 20.0f, 128, -1, std::make_shared<Idle>(), "cannon.bmp", 16,
                                     16, 16, 89, 29);
    HelicopterIndex = Sprites->AddSprite("Helicopter", 40.0f, 40.0f, 0, -1, std::make_shared<Idle>(), "cannon.bmp",
                                         16, 16, 16, 59, 14);
    BuildTrigTables();
    EraseBullets();
    for (std::int64_t i = 0; i < bullets; ++i) {
        AddBullet(static_cast<float>((i * 37) % BackWidth), static_cast<float>((i * 53) % BackHeight), 0, 0.0f);
    }
}

void TearDownField() {
    DestroyBackBuffer();
    frmMain.reset();
    Sprites.reset();
    EraseBullets();
    SetPictureLoader({});
}

void BM_ComposeFrame(benchmark::State& state) {
    SetUpField(state.range(0));
    for (auto _ : state) {
        ComposeFrame();
        benchmark::DoNotOptimize(BackDC->Target().Row(0));
    }
    state.SetItemsProcessed(state.iterations());
    TearDownField();
}
// No bullet, a typical handful (two guns firing about once a second, bullets living a few seconds), and many.
BENCHMARK(BM_ComposeFrame)->Arg(0)->Arg(8)->Arg(1000);

}  // namespace
}  // namespace brakkenfel
