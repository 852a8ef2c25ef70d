// Reading bitmap files with SDL: pixels and their order, the guns' strip, and the two failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
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

void Put32(std::vector<std::uint8_t>& Bytes, std::uint32_t Value) {
    for (int Shift = 0; Shift < 32; Shift += 8) Bytes.push_back(static_cast<std::uint8_t>(Value >> Shift));
}

void Put16(std::vector<std::uint8_t>& Bytes, std::uint16_t Value) {
    Bytes.push_back(static_cast<std::uint8_t>(Value));
    Bytes.push_back(static_cast<std::uint8_t>(Value >> 8));
}

/// A 24-bit bottom-up bitmap file of `Pixels` (0x00RRGGBB, top row first).
std::vector<std::uint8_t> Bmp24(std::int32_t Width, std::int32_t Height, const std::vector<std::uint32_t>& Pixels) {
    const std::uint32_t RowSize = static_cast<std::uint32_t>((Width * 3 + 3) / 4 * 4);
    const std::uint32_t DataSize = RowSize * static_cast<std::uint32_t>(Height);
    std::vector<std::uint8_t> Bytes = {'B', 'M'};
    Put32(Bytes, 54 + DataSize);
    Put32(Bytes, 0);
    Put32(Bytes, 54);
    Put32(Bytes, 40);
    Put32(Bytes, static_cast<std::uint32_t>(Width));
    Put32(Bytes, static_cast<std::uint32_t>(Height));
    Put16(Bytes, 1);
    Put16(Bytes, 24);
    Put32(Bytes, 0);
    Put32(Bytes, DataSize);
    Put32(Bytes, 2835);
    Put32(Bytes, 2835);
    Put32(Bytes, 0);
    Put32(Bytes, 0);
    for (std::int32_t Y = Height - 1; Y >= 0; --Y) {
        std::uint32_t Written = 0;
        for (std::int32_t X = 0; X < Width; ++X) {
            const std::uint32_t Pixel = Pixels[static_cast<std::size_t>(Y * Width + X)];
            Bytes.push_back(static_cast<std::uint8_t>(Pixel));
            Bytes.push_back(static_cast<std::uint8_t>(Pixel >> 8));
            Bytes.push_back(static_cast<std::uint8_t>(Pixel >> 16));
            Written += 3;
        }
        for (; Written < RowSize; ++Written) Bytes.push_back(0);
    }
    return Bytes;
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
    const std::string Path = Write("three_by_two.bmp", Bmp24(3, 2, Pixels));
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
    const std::string Path = Write("one.bmp", Bmp24(1, 1, {0xABCDEF}));
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
        {Write("cut.bmp", [] {
             auto Bytes = Bmp24(4, 4, std::vector<std::uint32_t>(16, 0x808080));
             Bytes.resize(30);
             return Bytes;
         }()),
         ErrInvalidPicture},
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
