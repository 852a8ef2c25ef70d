// The sprite registry: one growable table of sprite records, each steered by a contestant.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "contest/Sprite.h"
#include "platform/Gdi.h"
#include "platform/Picture.h"

namespace brakkenfel {

/// One sprite's record: its contestant, controls, position, turning, reloading and picture.
struct SpriteData {
    std::shared_ptr<Sprite> Handler;          ///< the contestant whose Update runs on every move
    std::shared_ptr<SpriteActions> Actions;   ///< the controls created for this sprite at add
    SpriteEnemyList Enemies;                  ///< the foe list handed to the contestant; stays empty
    std::string Name;                         ///< the name given at add; traces and scores report it
    float X = 0.0f;                           ///< horizontal position of the centre, in pixels
    float Y = 0.0f;                           ///< vertical position of the centre, in pixels
    std::uint8_t Angle = 0;                   ///< facing, 256 steps to a full turn
    std::shared_ptr<brakkenfel::Picture> Picture;  ///< the frame strip, or none
    std::uint8_t Width = 0;                   ///< frame width in pixels
    std::uint8_t Height = 0;                  ///< frame height in pixels
    std::uint8_t Frames = 0;                  ///< number of frames in the strip
    std::uint8_t Frame = 0;                   ///< frame currently shown
    std::uint8_t TargetAngle = 0;             ///< the angle the sprite turns toward
    std::uint8_t RotateLeft = 0;              ///< moves to wait before the next turning step
    std::uint8_t RotateSpeed = 0;             ///< what RotateLeft restarts from after each step
    std::int16_t ReloadTime = 0;              ///< moves between two shots
    std::int16_t ReloadLeft = 0;              ///< moves until the next shot; 0 means ready
    std::int16_t Visible = 0;                 ///< flag given at add (-1 true, 0 false); nothing reads it
    std::int16_t InUse = 0;                   ///< flag: the slot holds a sprite (-1 true, 0 false)
    std::int64_t ShotsFired = 0;              ///< bullets fired since the sprite was added (run statistics)
};

/// The turning delay as RotateLeft reports it: a tagged value holding an unsigned 8-bit number.
using RotateLeftValue = std::variant<std::uint8_t>;

/// The sprite registry. Indices are slot numbers; a slot is reused once its sprite is removed.
///
/// While the registry calls out of itself for one record (a contestant's Initialize or Update, a
/// shot's AddBullet) the table is pinned: adding a sprite that would need a new slot fails with
/// error 10 and the record being worked on is never handed to another sprite, so the callee can
/// come back into the registry safely. The registry also stays alive until such a call returns.
class clsSprites : public std::enable_shared_from_this<clsSprites> {
public:
    /// Most sprites the table can hold: indices are signed 16-bit.
    static constexpr std::int32_t MaxSprites = 32768;

    /// An empty registry; the table comes with the first AddSprite.
    clsSprites() = default;
    /// Releases every picture, then every contestant, then the table.
    ~clsSprites();
    clsSprites(const clsSprites&) = delete;
    clsSprites& operator=(const clsSprites&) = delete;

    /// Registers a sprite in the lowest free slot (growing the table by one if none) and returns
    /// its index. `RotateSpeed` is accepted and not stored: every sprite turns one step per move.
    std::int16_t AddSprite(const std::string& Name, float X, float Y, std::uint8_t Angle,
                           std::int16_t Visible, const std::shared_ptr<Sprite>& HandlerClass,
                           const std::string& Filename, std::uint8_t Width, std::uint8_t Height,
                           std::uint8_t Frames, std::int16_t ReloadTime, std::uint8_t RotateSpeed);
    /// The sprite's current angle.
    std::uint8_t Angle(std::int16_t Index) const;
    /// Copies the sprite's current frame onto `hDC`, centred on its position; no picture, no drawing.
    void Draw(std::int16_t Index, HDC hDC) const;
    /// The frame currently shown.
    std::uint8_t Frame(std::int16_t Index) const;
    /// Shows frame `NewValue` modulo Frames; fails with error 11 when the sprite has no frames.
    void Frame(std::int16_t Index, std::uint8_t NewValue);
    /// The number of frames in the sprite's strip.
    std::uint8_t Frames(std::int16_t Index) const;
    /// Frame height in pixels (0 to 255).
    std::int16_t Height(std::int16_t Index) const;
    /// Moves until the sprite may fire again; 0 means ready.
    std::int16_t ReloadLeft(std::int16_t Index) const;
    /// Moves between two shots.
    std::int16_t ReloadTime(std::int16_t Index) const;
    /// Sets the moves between two shots; a negative value stops the sprite after its next shot.
    void ReloadTime(std::int16_t Index, std::int16_t NewValue);
    /// Frees the slot; an index outside the table is ignored. The record's contents stay until reuse.
    void RemoveSprite(std::int16_t Index);
    /// Sets the angle the sprite turns toward and restarts its turning delay.
    void Rotate(std::int16_t Index, std::uint8_t NewValue);
    /// The sprite's turning delay.
    RotateLeftValue RotateLeft(std::int16_t Index) const;
    /// Fires a bullet from the sprite's centre along its angle if it has reloaded.
    void Shoot(std::int16_t Index);
    /// One move of the sprite: a turning step, a reload step, then its contestant's Update.
    void UpdateSprite(std::int16_t Index);
    /// Frame width in pixels (0 to 255).
    std::int16_t Width(std::int16_t Index) const;
    /// Horizontal position rounded to a whole pixel (halves to even); error 6 outside 16 bits.
    std::int16_t X(std::int16_t Index) const;
    /// Moves the sprite to column `NewValue`.
    void X(std::int16_t Index, std::int16_t NewValue);
    /// Vertical position rounded to a whole pixel (halves to even); error 6 outside 16 bits.
    std::int16_t Y(std::int16_t Index) const;
    /// Moves the sprite to row `NewValue`.
    void Y(std::int16_t Index, std::int16_t NewValue);

    /// The number of slots in the table, free ones included (0 before the first AddSprite).
    std::int32_t SlotCount() const;
    /// A read-only view of the record at `Index`, for observers such as traces; error 9 outside the table.
    const SpriteData& Data(std::int16_t Index) const { return Record(Index); }
    /// Bullets the sprite has fired since it was added.
    std::int64_t ShotsFired(std::int16_t Index) const { return Record(Index).ShotsFired; }
    /// Every record, free slots included, unchecked: for observers that read the whole table. Valid
    /// until the next AddSprite, which may move the table.
    std::span<const SpriteData> Records() const {
        return Table ? std::span<const SpriteData>(*Table) : std::span<const SpriteData>();
    }
    /// Changes whenever a record's position, size, use or shot count may have changed, or the table
    /// grew: an observer that saw this number before has nothing to redo. Numbers come from one
    /// count shared by every registry, so a new registry never repeats one seen of an old one.
    std::uint64_t Revision() const { return CurrentRevision; }

private:
    /// Marks one record as in use by a call out of the registry for as long as it lives.
    class Pin;

    /// True for 0 to the table's upper bound; InUse is not consulted.
    bool IsValidIndex(std::int16_t Index) const;
    /// The record at `Index`; fails with error 9 when IsValidIndex rejects it.
    SpriteData& Record(std::int16_t Index);
    /// The record at `Index`; fails with error 9 when IsValidIndex rejects it.
    const SpriteData& Record(std::int16_t Index) const;
    /// The slot AddSprite fills: the lowest free, unpinned one, or a new last one.
    std::int16_t ChooseSlot();
    /// True while a call out of the registry works on record `Index`.
    bool IsPinned(std::int16_t Index) const;
    /// Gives the registry a revision no registry has had.
    void Revise() { CurrentRevision = ++LastRevision; }

    std::optional<std::vector<SpriteData>> Table;
    std::vector<std::int16_t> Pinned;
    /// Every slot below this one is in use.
    std::size_t FirstMaybeFree = 0;
    std::uint64_t CurrentRevision = 0;
    static inline std::uint64_t LastRevision = 0;
};

}  // namespace brakkenfel
