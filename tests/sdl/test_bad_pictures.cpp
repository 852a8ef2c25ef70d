// Hostile and odd picture files: every layout decodes alike, broken files fail before any large
// allocation, and things that are not plain files fail at once.
#include <SDL.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "backends/sdl/BmpCheck.h"
#include "platform/Errors.h"
#include "platform/Picture.h"
#include "backends/sdl/SdlPicture.h"

namespace brakkenfel {
namespace {

namespace fs = std::filesystem;

/// The largest single block SDL was asked for since the last reset, through its own allocator hooks.
class LargestAllocation {
public:
    LargestAllocation() {
        SDL_GetMemoryFunctions(&Malloc, &Calloc, &Realloc, &Free);
        SDL_SetMemoryFunctions(&OnMalloc, &OnCalloc, &OnRealloc, Free);
        Largest = 0;
    }
    ~LargestAllocation() { SDL_SetMemoryFunctions(Malloc, Calloc, Realloc, Free); }
    LargestAllocation(const LargestAllocation&) = delete;
    LargestAllocation& operator=(const LargestAllocation&) = delete;

    static inline std::size_t Largest = 0;

private:
    static void Note(std::size_t Bytes) { Largest = std::max(Largest, Bytes); }
    static void* SDLCALL OnMalloc(std::size_t Bytes) { Note(Bytes); return Malloc(Bytes); }
    static void* SDLCALL OnCalloc(std::size_t Count, std::size_t Bytes) { Note(Count * Bytes); return Calloc(Count, Bytes); }
    static void* SDLCALL OnRealloc(void* Block, std::size_t Bytes) { Note(Bytes); return Realloc(Block, Bytes); }

    static inline SDL_malloc_func Malloc = nullptr;
    static inline SDL_calloc_func Calloc = nullptr;
    static inline SDL_realloc_func Realloc = nullptr;
    static inline SDL_free_func Free = nullptr;
};

/// The files of tests/e2e/make_pictures.py, written once for the whole suite: full strips in
/// Folder/full, a 15 x 5 strip (rows needing padding) in Folder/small, and 16-bit level ramps
/// with their 24- and 32-bit twins in Folder/levels555 and Folder/levels565.
class BadPictureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Folder = fs::temp_directory_path() / ("brakkenfel_bad_pictures_" + std::to_string(::getpid()));
        fs::create_directories(Folder);
        // Others must reach into it: the unreadable-file case runs as an unprivileged user.
        fs::permissions(Folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        const std::string Script = std::string(BRAKKENFEL_SOURCE_DIR) + "/tests/e2e/make_pictures.py";
        const std::string Full = "python3 '" + Script + "' '" + (Folder / "full").string() + "'";
        const std::string Small = "python3 '" + Script + "' '" + (Folder / "small").string() + "' --frame 5 --frames 3";
        ASSERT_EQ(std::system(Full.c_str()), 0) << Full;
        ASSERT_EQ(std::system(Small.c_str()), 0) << Small;
        for (const char* Layout : {"555", "565"}) {
            const std::string Levels = "python3 '" + Script + "' '" + (Folder / ("levels" + std::string(Layout))).string() +
                                       "' --levels " + Layout;
            ASSERT_EQ(std::system(Levels.c_str()), 0) << Levels;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(Folder); }

    static std::vector<fs::path> Files(const fs::path& Where) {
        std::vector<fs::path> Found;
        for (const auto& Entry : fs::directory_iterator(Where)) Found.push_back(Entry.path());
        std::sort(Found.begin(), Found.end());
        return Found;
    }

    static inline fs::path Folder;
};

/// Reads a binary PPM (P6, maxval 255) as a bitmap of 0x00RRGGBB pixels.
GdiBitmap ReadPpm(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::string Magic;
    int Width = 0, Height = 0, Max = 0;
    In >> Magic >> Width >> Height >> Max;
    In.get();
    GdiBitmap Bitmap(Width, Height);
    for (int Y = 0; Y < Height; ++Y) {
        for (int X = 0; X < Width; ++X) {
            const auto R = static_cast<std::uint32_t>(In.get()), G = static_cast<std::uint32_t>(In.get()),
                       B = static_cast<std::uint32_t>(In.get());
            Bitmap.Row(Y)[X] = R << 16 | G << 8 | B;
        }
    }
    EXPECT_TRUE(Magic == "P6" && Max == 255 && In) << Path;
    return Bitmap;
}

/// The error loading `Path` fails with; the test fails if it loads.
RuntimeError LoadError(const std::string& Path) {
    try {
        LoadPictureFromFile(Path);
    } catch (const RuntimeError& Error) {
        return Error;
    }
    ADD_FAILURE() << Path << " loaded";
    return RuntimeError(0);
}

TEST_F(BadPictureTest, EveryLayoutDecodesToTheSameStrip) {
    // The level ramps: a 16-bit picture draws exactly the colours of its 24-bit twin.
    for (const std::string Size : {"full", "small", "levels555", "levels565"}) {
        const GdiBitmap Expected = ReadPpm(Folder / Size / "gun.ppm");
        const std::vector<fs::path> Good = Files(Folder / Size / "good");
        ASSERT_GE(Good.size(), Size.starts_with("levels") ? 4u : 20u);
        for (const fs::path& Path : Good) {
            SCOPED_TRACE(Path.string());
            const std::shared_ptr<Picture> Loaded = LoadPictureFromFile(Path.string());
            const GdiBitmap& Strip = *Loaded->Handle();
            ASSERT_EQ(Strip.Width(), Expected.Width());
            ASSERT_EQ(Strip.Height(), Expected.Height());
            int Wrong = 0;
            for (std::int32_t Y = 0; Y < Strip.Height(); ++Y) {
                for (std::int32_t X = 0; X < Strip.Width(); ++X) Wrong += Strip.Pixel(X, Y) != Expected.Pixel(X, Y);
            }
            EXPECT_EQ(Wrong, 0);
        }
    }
}

TEST_F(BadPictureTest, BrokenFilesFailAsInvalidBeforeAnyLargeAllocation) {
    const std::vector<fs::path> Bad = Files(Folder / "full" / "bad");
    ASSERT_GE(Bad.size(), 30u);
    for (const fs::path& Path : Bad) {
        SCOPED_TRACE(Path.string());
        LargestAllocation Watch;
        const RuntimeError Error = LoadError(Path.string());
        EXPECT_EQ(Error.Number(), ErrInvalidPicture);
        EXPECT_NE(std::string(Error.what()).find(Path.string()), std::string::npos) << Error.what();
        // Some of these claim gigabytes; none may get more than a few stream buffers.
        EXPECT_LT(LargestAllocation::Largest, 64u * 1024u);
    }
}

TEST_F(BadPictureTest, WhatIsNotAPlainFileFailsAsNotFound) {
    const fs::path Where = Folder / "not_files";
    fs::create_directories(Where / "folder.bmp");
    ASSERT_EQ(::mkfifo((Where / "pipe.bmp").c_str(), 0644), 0);  // no writer: opening it must not wait
    fs::create_symlink("/dev/zero", Where / "endless.bmp");
    fs::create_symlink(Where / "gone.bmp", Where / "dangling.bmp");
    fs::create_symlink(Where / "folder.bmp", Where / "to_folder.bmp");
    for (const char* Name : {"folder.bmp", "pipe.bmp", "endless.bmp", "dangling.bmp", "to_folder.bmp", "absent.bmp"}) {
        const std::string Path = (Where / Name).string();
        SCOPED_TRACE(Path);
        const RuntimeError Error = LoadError(Path);
        EXPECT_EQ(Error.Number(), ErrFileNotFound);
        EXPECT_NE(std::string(Error.what()).find(Path), std::string::npos) << Error.what();
    }
}

TEST_F(BadPictureTest, AFileTheUserMayNotReadFailsAsNotFound) {
    const fs::path Path = Folder / "locked.bmp";
    fs::copy_file(Folder / "full" / "good" / "rgb24_bottomup.bmp", Path);
    fs::permissions(Path, fs::perms::none);
    // Permissions do not stop root, so the load runs in a child that has become an unprivileged user.
    const pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        try {
            LoadPictureFromFile(Path.string());
        } catch (const RuntimeError& Error) {
            const bool Named = std::string(Error.what()).find(Path.string()) != std::string::npos;
            ::_exit(Error.Number() == ErrFileNotFound && Named ? 0 : 3);
        }
        ::_exit(4);
    }
    int Status = 0;
    ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
    ASSERT_TRUE(WIFEXITED(Status));
    EXPECT_EQ(WEXITSTATUS(Status), 0) << "2: could not drop privileges, 3: wrong error, 4: it loaded";
}

/// The head of a file with a first-version header for a `Width` x `Height` picture of `Bits` bits,
/// its pixels right after a full colour table.
std::vector<std::uint8_t> Header(std::int32_t Width, std::int32_t Height, std::uint16_t Bits, std::uint32_t Compression) {
    std::vector<std::uint8_t> Bytes(54 + 1024, 0);
    const auto Put = [&Bytes](std::size_t At, std::uint32_t Value, int Count) {
        for (int I = 0; I < Count; ++I) Bytes[At + I] = static_cast<std::uint8_t>(Value >> (8 * I));
    };
    Bytes[0] = 'B';
    Bytes[1] = 'M';
    Put(10, Bits <= 8 ? 54 + (4u << Bits) : 54, 4);
    Put(14, 40, 4);
    Put(18, static_cast<std::uint32_t>(Width), 4);
    Put(22, static_cast<std::uint32_t>(Height), 4);
    Put(26, 1, 2);
    Put(28, Bits, 2);
    Put(30, Compression, 4);
    return Bytes;
}

TEST(BmpCheck, SizeLimitsHoldAtTheirEdges) {
    struct Case {
        std::int32_t Width, Height;
        std::uint16_t Bits;
        std::uint32_t Compression;
        std::uint64_t FileSize;
        bool Usable;
    };
    // Encoded pictures cannot be measured before decoding, so only the pixel cap bounds them.
    const Case Cases[] = {
        {4096, 4096, 8, BmpRle8, 2000, true},
        {4097, 4096, 8, BmpRle8, 2000, false},
        {16384, 1024, 8, BmpRle8, 2000, true},
        {16385, 1, 8, BmpRle8, 2000, false},
        {1, -16384, 24, BmpRgb, 54 + 4 * 16384, true},
        {1, -16385, 24, BmpRgb, 54 + 4 * 16385, false},
        {16, 16, 24, BmpRgb, 54 + 48 * 16, true},
        {16, 16, 24, BmpRgb, 54 + 48 * 16 - 1, false},
        {33, 2, 1, BmpRgb, 54 + 8 + 2 * 8, true},
        {33, 2, 1, BmpRgb, 54 + 8 + 2 * 8 - 1, false},
    };
    for (const Case& Each : Cases) {
        SCOPED_TRACE(std::to_string(Each.Width) + " x " + std::to_string(Each.Height) + " in " +
                     std::to_string(Each.FileSize));
        const std::vector<std::uint8_t> Head = Header(Each.Width, Each.Height, Each.Bits, Each.Compression);
        BmpLayout Layout;
        std::string Why;
        EXPECT_EQ(CheckBmpHeader(std::span(Head).first(BmpHeadBytes), Each.FileSize, Layout, Why), Each.Usable) << Why;
        if (Each.Usable) {
            EXPECT_EQ(Layout.Height, std::abs(Each.Height));
        }
    }
}

}  // namespace
}  // namespace brakkenfel
