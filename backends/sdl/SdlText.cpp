// Font lookup and line rendering for the window's label.
#include "backends/sdl/SdlText.h"

#include <fontconfig/fontconfig.h>

#include <cmath>

#include "platform/Errors.h"

namespace brakkenfel {

FontMatch MatchFont(const std::string& family, double points, double dpi) {
    FontMatch result;
    result.PixelSize = points * dpi / 72.0;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (config == nullptr) return result;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
    if (pattern != nullptr) {
        FcPatternAddDouble(pattern, FC_SIZE, points);
        FcPatternAddDouble(pattern, FC_DPI, dpi);
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult outcome = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &outcome);
        if (match != nullptr) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr) {
                result.File = reinterpret_cast<const char*>(file);
            }
            int index = 0;
            if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) result.Index = index;
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return result;
}

SdlText::SdlText(const std::string& family, double points, double dpi)
    : Found(MatchFont(family, points, dpi)) {
    if (Found.File.empty()) throw RuntimeError(ErrFileNotFound, "no font matches " + family);
    if (TTF_Init() != 0) throw RuntimeError(ErrFileNotFound, std::string("SDL_ttf: ") + TTF_GetError());
    // SDL_ttf's sizes are points at 72 dpi, so the pixel size goes in as it is.
    Font = TTF_OpenFontIndex(Found.File.c_str(), static_cast<int>(std::lround(Found.PixelSize)),
                              Found.Index);
    if (Font == nullptr) {
        const std::string reason = TTF_GetError();
        TTF_Quit();
        throw RuntimeError(ErrFileNotFound, Found.File + ": " + reason);
    }
}

SdlText::~SdlText() {
    TTF_CloseFont(Font);
    TTF_Quit();
}

int SdlText::Width(const std::string& text) const {
    int width = 0;
    int height = 0;
    if (text.empty() || TTF_SizeUTF8(Font, text.c_str(), &width, &height) != 0) return 0;
    return width;
}

int SdlText::Height() const { return TTF_FontHeight(Font); }

SurfacePtr SdlText::Render(const std::string& text, SDL_Color ink, SDL_Color paper) const {
    if (text.empty()) return nullptr;
    return SurfacePtr(TTF_RenderUTF8_Shaded(Font, text.c_str(), ink, paper));
}

}  // namespace brakkenfel
