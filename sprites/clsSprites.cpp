// The sprite registry: adding and removing sprites, their moves, shots and drawing.
#include "sprites/clsSprites.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "bullets/modBulletAndGravity.h"
#include "bullets/modFloatingPointError.h"
#include "platform/Errors.h"
#include "platform/Rounding.h"

namespace brakkenfel {

namespace {

/// Speed of every bullet a sprite fires, in pixels per move.
constexpr float ShotSpeed = 2.0f;

}  // namespace

class clsSprites::Pin {
public:
    Pin(clsSprites& Owner, std::int16_t Index) : Owner(Owner) { Owner.Pinned.push_back(Index); }
    ~Pin() { Owner.Pinned.pop_back(); }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

private:
    clsSprites& Owner;
};

clsSprites::~clsSprites() {
    if (Table) {
        // Pictures go before contestants, free slots included, so a contestant that outlives
        // the registry never finds its picture still held.
        for (SpriteData& Data : *Table) {
            Data.Picture.reset();
            Data.Handler.reset();
        }
        Table.reset();
    }
    FloatingPointGuard();
}

std::int16_t clsSprites::AddSprite(const std::string& Name, float X, float Y, std::uint8_t Angle,
                                   std::int16_t Visible, const std::shared_ptr<Sprite>& HandlerClass,
                                   const std::string& Filename, std::uint8_t Width,
                                   std::uint8_t Height, std::uint8_t Frames,
                                   std::int16_t ReloadTime, std::uint8_t RotateSpeed) {
    (void)RotateSpeed;  // accepted for the contestant table's sake; every sprite turns each move
    if (!HandlerClass) {
        throw RuntimeError(ErrInvalidProcedure, "AddSprite needs a contestant for \"" + Name + "\"");
    }
    // A contestant may drop the last reference to the registry from its Initialize; the
    // registry must outlive this call all the same.
    const std::shared_ptr<clsSprites> KeepAlive = weak_from_this().lock();
    const std::shared_ptr<Sprite> Handler = HandlerClass;

    const std::int16_t Index = ChooseSlot();
    // Now, as the table may have grown, and again once the record is complete: it is written in
    // stages, around calls out of the registry.
    Revise();
    FloatingPointGuard();
    {
        SpriteData& Data = (*Table)[Index];
        Data.Handler = Handler;
        Data.Actions = std::make_shared<SpriteActions>();
        Data.Actions->Initialize(Index);
    }
    {
        // Pinned, so the record cannot move while the contestant holds references into it.
        const Pin Hold(*this, Index);
        SpriteData& Data = (*Table)[Index];
        Handler->Initialize(Data.Actions, Data.Enemies);
    }
    {
        SpriteData& Data = (*Table)[Index];
        Data.Name = Name;
        Data.X = X;
        Data.Y = Y;
        Data.Visible = Visible;
    }
    std::shared_ptr<brakkenfel::Picture> Loaded;
    if (!Filename.empty()) {
        Loaded = LoadPicture(Filename);
    }
    SpriteData& Data = (*Table)[Index];
    Data.Picture = std::move(Loaded);
    Data.Width = Width;
    Data.Height = Height;
    Data.Frames = Frames;
    // A reused slot would otherwise show its previous occupant's frame.
    Data.Frame = 0;
    Data.ShotsFired = 0;
    Data.Angle = Angle;
    Data.ReloadLeft = 0;
    Data.ReloadTime = ReloadTime;
    Data.TargetAngle = Angle;
    Data.RotateLeft = 0;
    Data.RotateSpeed = 0;
    Data.InUse = -1;
    Revise();
    return Index;
}

std::uint8_t clsSprites::Angle(std::int16_t Index) const { return Record(Index).Angle; }

void clsSprites::Draw(std::int16_t Index, HDC hDC) const {
    const SpriteData& Data = Record(Index);
    if (!Data.Picture || !Data.Picture->Handle()) {
        return;
    }
    // The 8-bit product means frames past column 255 of a strip wrap back to its start.
    const std::uint8_t SourceLeft = static_cast<std::uint8_t>(Data.Width * Data.Frame);
    // Rounded before any context exists, so an overflow leaves nothing behind.
    const std::int32_t Left = RoundChecked<std::int32_t>(Data.X - static_cast<float>(Data.Width / 2));
    const std::int32_t Top = RoundChecked<std::int32_t>(Data.Y - static_cast<float>(Data.Height / 2));

    DCHandle MemoryDC = CreateCompatibleDC(hDC);
    HBITMAP Kept = SelectObject(MemoryDC.get(), Data.Picture->Handle());
    BitBlt(hDC, Left, Top, Data.Width, Data.Height, MemoryDC.get(), SourceLeft, 0, SRCCOPY);
    SelectObject(MemoryDC.get(), Kept);
    DeleteDC(MemoryDC);
}

std::uint8_t clsSprites::Frame(std::int16_t Index) const { return Record(Index).Frame; }

void clsSprites::Frame(std::int16_t Index, std::uint8_t NewValue) {
    SpriteData& Data = Record(Index);
    if (Data.Frames == 0) {
        throw RuntimeError(ErrDivisionByZero);
    }
    Data.Frame = static_cast<std::uint8_t>(NewValue % Data.Frames);
}

std::uint8_t clsSprites::Frames(std::int16_t Index) const { return Record(Index).Frames; }

std::int16_t clsSprites::Height(std::int16_t Index) const { return Record(Index).Height; }

std::int16_t clsSprites::ReloadLeft(std::int16_t Index) const { return Record(Index).ReloadLeft; }

std::int16_t clsSprites::ReloadTime(std::int16_t Index) const { return Record(Index).ReloadTime; }

void clsSprites::ReloadTime(std::int16_t Index, std::int16_t NewValue) {
    Record(Index).ReloadTime = NewValue;
}

void clsSprites::RemoveSprite(std::int16_t Index) {
    if (!IsValidIndex(Index)) {
        return;
    }
    (*Table)[Index].InUse = 0;
    Revise();
    FirstMaybeFree = std::min(FirstMaybeFree, static_cast<std::size_t>(Index));
}

void clsSprites::Rotate(std::int16_t Index, std::uint8_t NewValue) {
    if (!IsValidIndex(Index)) {
        return;
    }
    SpriteData& Data = (*Table)[Index];
    Data.RotateLeft = Data.RotateSpeed;
    Data.TargetAngle = NewValue;
}

RotateLeftValue clsSprites::RotateLeft(std::int16_t Index) const {
    return RotateLeftValue{Record(Index).RotateLeft};
}

void clsSprites::Shoot(std::int16_t Index) {
    if (!IsValidIndex(Index)) {
        return;
    }
    float FromX = 0.0f;
    float FromY = 0.0f;
    std::uint8_t Along = 0;
    {
        const SpriteData& Data = (*Table)[Index];
        if (Data.ReloadLeft != 0) {
            return;
        }
        FromX = Data.X;
        FromY = Data.Y;
        Along = Data.Angle;
    }
    {
        const Pin Hold(*this, Index);
        AddBullet(FromX, FromY, Along, ShotSpeed, Index);
    }
    SpriteData& Data = (*Table)[Index];
    Data.ReloadLeft = Data.ReloadTime;
    ++Data.ShotsFired;
    Revise();
}

std::int32_t clsSprites::SlotCount() const {
    return Table ? static_cast<std::int32_t>(Table->size()) : 0;
}

void clsSprites::UpdateSprite(std::int16_t Index) {
    if (!IsValidIndex(Index)) {
        return;
    }
    // The contestant may drop the last reference to the registry from its Update; the registry
    // must outlive this call all the same. Declared first so it goes last.
    const std::shared_ptr<clsSprites> KeepAlive = weak_from_this().lock();
    std::shared_ptr<Sprite> Handler;
    {
        SpriteData& Data = (*Table)[Index];
        if (Data.Angle != Data.TargetAngle) {
            if (Data.RotateLeft != 0) {
                --Data.RotateLeft;
            } else {
                ++Data.Angle;
                Data.RotateLeft = Data.RotateSpeed;
            }
        }
        if (Data.ReloadLeft > 0) {
            --Data.ReloadLeft;
        }
        // Our own reference: the contestant stays alive through its Update whatever it does.
        Handler = Data.Handler;
    }
    const Pin Hold(*this, Index);
    Handler->Update();
}

std::int16_t clsSprites::Width(std::int16_t Index) const { return Record(Index).Width; }

std::int16_t clsSprites::X(std::int16_t Index) const { return RoundChecked<std::int16_t>(Record(Index).X); }

void clsSprites::X(std::int16_t Index, std::int16_t NewValue) {
    Record(Index).X = static_cast<float>(NewValue);
    Revise();
}

std::int16_t clsSprites::Y(std::int16_t Index) const { return RoundChecked<std::int16_t>(Record(Index).Y); }

void clsSprites::Y(std::int16_t Index, std::int16_t NewValue) {
    Record(Index).Y = static_cast<float>(NewValue);
    Revise();
}

bool clsSprites::IsValidIndex(std::int16_t Index) const {
    if (Guarded(!Table)) return false;
    return Index >= 0 && static_cast<std::size_t>(Index) < Table->size();
}

SpriteData& clsSprites::Record(std::int16_t Index) {
    return const_cast<SpriteData&>(std::as_const(*this).Record(Index));
}

const SpriteData& clsSprites::Record(std::int16_t Index) const {
    if (!IsValidIndex(Index)) {
        throw RuntimeError(ErrSubscript, "no sprite slot " + std::to_string(Index));
    }
    return (*Table)[Index];
}

std::int16_t clsSprites::ChooseSlot() {
    if (!Table) {
        Table.emplace(1);
        return 0;
    }
    const std::size_t Count = Table->size();
    // Skipping the slots known to be in use finds the same slot as a scan from 0, without
    // making a table of thousands of sprites quadratic to fill.
    std::size_t Slot = FirstMaybeFree;
    while (Slot < Count && (*Table)[Slot].InUse != 0) {
        ++Slot;
    }
    FirstMaybeFree = Slot;
    for (; Slot < Count; ++Slot) {
        const auto Index = static_cast<std::int16_t>(Slot);
        if ((*Table)[Slot].InUse == 0 && !IsPinned(Index)) {
            return Index;
        }
    }
    if (Count >= static_cast<std::size_t>(MaxSprites)) {
        throw RuntimeError(ErrOverflow, "the sprite table is full (32768 sprites)");
    }
    if (!Pinned.empty()) {
        throw RuntimeError(ErrArrayLocked,
                           "the sprite table cannot grow while a contestant or a shot is using it");
    }
    Table->emplace_back();
    return static_cast<std::int16_t>(Count);
}

bool clsSprites::IsPinned(std::int16_t Index) const {
    for (const std::int16_t PinnedIndex : Pinned) {
        if (PinnedIndex == Index) {
            return true;
        }
    }
    return false;
}

}  // namespace brakkenfel
