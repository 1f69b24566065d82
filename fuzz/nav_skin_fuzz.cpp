// Navigation-bar skins of any content: the skin is read, every action it offers becomes a button,
// the bar is laid out and drawn, and the mouse moves, presses and releases over it. Pictures are
// small solid bitmaps whose size comes from the picture's name, so that bounds reach past them.
#include "engine/NavBar.h"
#include "ini/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

kiv::TRef<kiv::TBitmap> Picture(const std::string& name) {
    std::size_t hash = std::hash<std::string>{}(name);
    if (hash % 5 == 0) return {}; // a picture that cannot be loaded
    const int width = 1 + static_cast<int>(hash % 40), height = 1 + static_cast<int>((hash >> 8) % 30);
    auto bitmap = kiv::MakeRef<kiv::TBitmap>(width, height, kiv::TPixelFormat::Bgra32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 4; ++x)
            bitmap->Row(y)[x] = static_cast<std::uint8_t>(hash >> (x % 4 * 8));
    return bitmap;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv;
    if (size > (1u << 16)) return 0;
    auto skin = MakeRef<TIniFile>();
    skin->LoadFromBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    TNavBar bar;
    bar.SetPictureLoader(&Picture);
    bool playing = size % 2 == 0;
    bar.SetIsPlaying([&playing](int) { return playing; });
    int clicks = 0;
    bar.SetOnClick([&clicks](TNavBar&, int) { ++clicks; });
    bar.SetColorShift(static_cast<int>(size % 360), static_cast<int>(size % 7) - 3, 0);
    try {
        bar.LoadSkin(skin, "skin\\");
        std::vector<int> selection;
        for (int i = 0; i < static_cast<int>(bar.AvailableActions().size()) && i < 16; ++i)
            selection.push_back(i);
        bar.SetButtons(selection);
    } catch (const ENavSkinError&) {
        return 0;
    }
    const TBitmap* canvas = bar.Canvas();
    if (canvas && (canvas->Width() != bar.TotalWidth() || canvas->Height() != bar.TotalHeight())) std::abort();
    for (int b = 0; b < bar.ButtonCount(); ++b) {
        const TNavRect r = bar.ButtonRect(b);
        const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
        bar.MouseEvent(0, 0, 0, x, y);
        bar.MouseEvent(1, 16, 1, x, y);
        bar.MouseEvent(1, 0, 2, x, y);
        if (b == 0) bar.SetButtonDisabled(b, true);
    }
    bar.MouseEvent(0, 0, 0, -5, -5);
    playing = !playing;
    bar.RefreshPlayState();
    bar.ResetHover();
    return 0;
}
