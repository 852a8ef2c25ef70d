// Reading bitmap files with SDL: pixels and their order, the guns' strip, and the two failures.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/Errors.h"
#include "platform/Picture.h"
#include "platform/sdl/SdlPicture.h"

namespace brakkenfel {
namespace {

/// A scratch folder of this test process, removed with everything in it.
class PictureFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        Folder = std::filesystem::temp_directory_path() / ("brakkenfel_picture_" + std::to_string(::getpid()));
        std::filesystem::create_directories(Folder);
    }
    void TearDown() override {
        SetPictureLoader(nullptr);
        std::filesystem::remove_all(Folder);
    }

    std::string Write(const std::string& Name, const std::vector<std::uint8_t>& Bytes) {
        const std::filesystem::path Path = Folder / Name;
        std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()),
                                                    static_cast<std::streamsize>(Bytes.size()));
        return Path.string();
    }

    std::filesystem::path Folder;
};

/// Writes `Pixels` (0x00RRGGBB, top row first) as a bitmap file through SDL, whose rows run bottom up.
std::string SaveBmp(const std::filesystem::path& Path, int Width, int Height, std::vector<std::uint32_t> Pixels) {
    SDL_Surface* Surface = SDL_CreateRGBSurfaceWithFormatFrom(Pixels.data(), Width, Height, 32, Width * 4,
                                                              SDL_PIXELFORMAT_RGB888);
    EXPECT_EQ(SDL_SaveBMP(Surface, Path.string().c_str()), 0) << SDL_GetError();
    SDL_FreeSurface(Surface);
    return Path.string();
}

/// Cuts the file at `Path` off inside its header.
std::string CutShort(const std::string& Path) {
    std::filesystem::resize_file(Path, 30);
    return Path;
}

/// The error a load fails with; the test fails if it does not.
RuntimeError LoadError(const std::string& Path) {
    try {
        LoadPictureFromFile(Path);
    } catch (const RuntimeError& Error) {
        return Error;
    }
    ADD_FAILURE() << Path << " loaded";
    return RuntimeError(0);
}

TEST_F(PictureFileTest, PixelsArriveTopRowFirstAsRedGreenBlue) {
    // An odd width makes every row padded.
    const std::vector<std::uint32_t> Pixels = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF, 0x000000};
    const std::string Path = SaveBmp(Folder / "three_by_two.bmp", 3, 2, Pixels);
    const auto Loaded = LoadPictureFromFile(Path);
    ASSERT_TRUE(Loaded && Loaded->Handle());
    const GdiBitmap& Bitmap = *Loaded->Handle();
    ASSERT_EQ(Bitmap.Width(), 3);
    ASSERT_EQ(Bitmap.Height(), 2);
    for (std::int32_t Y = 0; Y < 2; ++Y) {
        for (std::int32_t X = 0; X < 3; ++X) {
            EXPECT_EQ(Bitmap.Pixel(X, Y), Pixels[static_cast<std::size_t>(Y * 3 + X)]) << X << "," << Y;
        }
    }
}

TEST_F(PictureFileTest, TheInstalledLoaderServesLoadPicture) {
    const std::string Path = SaveBmp(Folder / "one.bmp", 1, 1, {0xABCDEF});
    SetPictureLoader(SdlPictureLoader());
    EXPECT_EQ(LoadPicture(Path)->Handle()->Pixel(0, 0), 0xABCDEFu);
}

TEST_F(PictureFileTest, TheGunsStripIsSixteenFramesOnBlack) {
    const auto Loaded = LoadPictureFromFile(std::string(BRAKKENFEL_SOURCE_DIR) + "/assets/cannon.bmp");
    const GdiBitmap& Strip = *Loaded->Handle();
    ASSERT_EQ(Strip.Width(), 256);
    ASSERT_EQ(Strip.Height(), 16);
    for (std::int32_t Frame = 0; Frame < 16; ++Frame) {
        SCOPED_TRACE("frame " + std::to_string(Frame));
        // Black corners, something drawn in between.
        EXPECT_EQ(Strip.Pixel(Frame * 16, 0), 0u);
        EXPECT_EQ(Strip.Pixel(Frame * 16 + 15, 15), 0u);
        int Drawn = 0;
        for (std::int32_t Y = 0; Y < 16; ++Y) {
            for (std::int32_t X = 0; X < 16; ++X) Drawn += Strip.Pixel(Frame * 16 + X, Y) != 0;
        }
        EXPECT_GT(Drawn, 40);
    }
}

TEST_F(PictureFileTest, FailuresNameThePath) {
    struct Case {
        std::string Path;
        std::int32_t Number;
    };
    const std::vector<Case> Cases = {
        {(Folder / "absent.bmp").string(), ErrFileNotFound},
        {Write("text.bmp", {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'}), ErrInvalidPicture},
        {Write("empty.bmp", {}), ErrInvalidPicture},
        {CutShort(SaveBmp(Folder / "cut.bmp", 4, 4, std::vector<std::uint32_t>(16, 0x808080))), ErrInvalidPicture},
    };
    for (const Case& Each : Cases) {
        SCOPED_TRACE(Each.Path);
        const RuntimeError Error = LoadError(Each.Path);
        EXPECT_EQ(Error.Number(), Each.Number);
        EXPECT_NE(std::string(Error.what()).find(Each.Path), std::string::npos);
    }
}

}  // namespace
}  // namespace brakkenfel
