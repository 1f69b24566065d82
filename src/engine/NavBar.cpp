#include "engine/NavBar.h"

#include "base/Assert.h"
#include "base/CaseFold.h"
#include "base/NumberText.h"
#include "objects/Hsl.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

constexpr std::array<std::string_view, 7> kKnownActions = {"home",  "backward", "forward", "pause",
                                                           "print", "help",     "exit"};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

// Skin numbers beyond this size are clamped, so that sums of them cannot overflow.
constexpr int kMaxSkinNumber = 1 << 16;

int SkinNumber(int value) {
    return std::clamp(value, -kMaxSkinNumber, kMaxSkinNumber);
}

int ListInt(const std::string& item) {
    return SkinNumber(ParseInt32(Trim(item), 0));
}

// The out-alpha and weight tables of the compositing, built once.
struct TCompositeTables {
    std::array<std::array<std::uint8_t, 256>, 256> alpha{};
    std::array<std::array<std::uint8_t, 256>, 256> weight{};
    std::array<int, 256> factor{};
    TCompositeTables() {
        for (int sa = 0; sa < 256; ++sa) {
            for (int da = 0; da < 256; ++da) {
                alpha[sa][da] = static_cast<std::uint8_t>(255 - (255 - sa) * (255 - da) / 255);
                weight[sa][da] = static_cast<std::uint8_t>(da * (255 - sa) / 255);
            }
        }
        factor[0] = 0;
        for (int a = 1; a < 256; ++a) {
            int r = static_cast<int>(std::nearbyint(1048576.0 / a));
            if (r == 4112) r = 4113;
            factor[a] = r;
        }
    }
};

const TCompositeTables& Tables() {
    static const TCompositeTables tables;
    return tables;
}

} // namespace

TNavRect Intersect(const TNavRect& a, const TNavRect& b) {
    TNavRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (r.IsEmpty()) return {};
    return r;
}

TNavRect Union(const TNavRect& a, const TNavRect& b) {
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

int CompositeFactor(int alpha) {
    return Tables().factor[static_cast<std::size_t>(std::clamp(alpha, 0, 255))];
}

void CompositePixel(std::uint8_t* dest, const std::uint8_t* source) {
    const int sa = source[3];
    if (sa == 0) return;
    const int da = dest[3];
    if (sa == 255 || da == 0) {
        std::memcpy(dest, source, 4);
        return;
    }
    const TCompositeTables& t = Tables();
    const int a = t.alpha[sa][da];
    const int w = t.weight[sa][da];
    const std::int64_t r = t.factor[a];
    for (int c = 0; c < 3; ++c) {
        const std::int64_t v = ((w * dest[c] + sa * source[c]) * r) >> 20;
        dest[c] = static_cast<std::uint8_t>(std::min<std::int64_t>(v, 255));
    }
    dest[3] = static_cast<std::uint8_t>(a);
}

std::vector<std::string> SplitSkinList(std::string_view text) {
    std::vector<std::string> items;
    if (Trim(text).empty()) return items;
    std::string current;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) {
            items.emplace_back(Trim(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    items.emplace_back(Trim(current));
    return items;
}

namespace {

// Bounds "left, top, width, height" → rectangle. An absent key gives the fallback; a present one
// needs four values.
TNavRect ReadBounds(const TIniList& section, std::string_view key, const TNavRect& fallback) {
    const TIniItem* item = section.FindItem(key);
    if (!item) return fallback;
    const std::vector<std::string> parts = SplitSkinList(item->Value());
    if (parts.size() != 4)
        throw ENavSkinError(
            "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But "
            "KIV found only " +
            std::to_string(parts.size()) + " values.");
    const int left = ListInt(parts[0]);
    const int top = ListInt(parts[1]);
    return {left, top, left + ListInt(parts[2]), top + ListInt(parts[3])};
}

} // namespace

TNavBar::TNavBar() = default;

int TNavBar::ActionType(std::string_view word) {
    for (std::size_t i = 0; i < kKnownActions.size(); ++i)
        if (SameTextFolded(word, kKnownActions[i])) return static_cast<int>(i) + 1;
    return kNavActionNone;
}

void TNavBar::SetColorShift(int hue, int saturation, int lightness) {
    hue_ = hue;
    saturation_ = saturation;
    lightness_ = lightness;
}

TNavBar::TCell& TNavBar::Cell(int col, int row) {
    return cells_[static_cast<std::size_t>((row - 1) * cols_ + (col - 1))];
}

const TNavBar::TCell& TNavBar::Cell(int col, int row) const {
    return cells_[static_cast<std::size_t>((row - 1) * cols_ + (col - 1))];
}

TNavRect TNavBar::CellRect(int col, int row) const {
    if (col < 1 || row < 1 || col > cols_ || row > rows_) return {};
    const TCell& c = Cell(col, row);
    return {c.x, c.y, c.x + c.width, c.y + c.height};
}

TRef<TBitmap> TNavBar::Picture(const std::string& file) {
    if (file.empty()) return {};
    const std::string key = FoldUtf8(file);
    auto found = cache_.find(key);
    if (found == cache_.end()) {
        KIV_ASSERT(static_cast<bool>(loader_), "TNavBar: no picture loader");
        TCacheItem item;
        try {
            item.picture = loader_(folder_ + file);
        } catch (const std::exception&) {
            item.picture = {};
        }
        if (item.picture && item.picture->Format() != TPixelFormat::Bgra32) item.picture = {};
        found = cache_.emplace(key, std::move(item)).first;
    }
    return found->second.picture;
}

TNavBar::TPic TNavBar::Derived(const std::string& file, const TNavRect& bounds, bool disabled) {
    TPic result;
    const TRef<TBitmap> picture = Picture(file);
    if (!picture) return result;
    // The four bound numbers with separators, so that "1,23" and "12,3" stay apart.
    const std::string key = std::to_string(bounds.left) + "," + std::to_string(bounds.top) + "," +
                            std::to_string(bounds.Width()) + "," + std::to_string(bounds.Height()) +
                            (disabled ? "D" : "G");
    TCacheItem& item = cache_[FoldUtf8(file)];
    auto found = item.derived.find(key);
    if (found == item.derived.end()) {
        const TNavRect area = Intersect(bounds, {0, 0, picture->Width(), picture->Height()});
        TRef<TBitmap> copy;
        if (!area.IsEmpty()) {
            copy = MakeRef<TBitmap>(area.Width(), area.Height(), TPixelFormat::Bgra32);
            for (int y = 0; y < area.Height(); ++y) {
                const std::uint8_t* s = picture->Row(area.top + y) + area.left * 4;
                std::uint8_t* d = copy->Row(y);
                for (int x = 0; x < area.Width(); ++x, s += 4, d += 4) {
                    const auto grey = static_cast<std::uint8_t>((s[0] + s[1] + s[2]) / 3);
                    d[0] = d[1] = d[2] = grey;
                    d[3] = disabled ? static_cast<std::uint8_t>(s[3] >> 2) : s[3];
                }
            }
        }
        found = item.derived.emplace(key, copy).first;
    }
    result.bitmap = found->second;
    if (result.bitmap) result.bounds = {0, 0, result.bitmap->Width(), result.bitmap->Height()};
    return result;
}

void TNavBar::LoadSkin(TRef<TIniFile> skin, std::string folder) {
    loaded_ = false;
    skin_ = std::move(skin);
    folder_ = std::move(folder);
    actions_.clear();
    cells_.clear();
    buttons_.clear();
    cache_.clear();
    canvas_.Reset();
    totalWidth_ = totalHeight_ = 0;
    dirty_ = {};
    pressed_ = -1;
    capturing_ = hovering_ = false;
    if (!skin_) return;
    const TIniFile& ini = *skin_;

    // 1. The available actions, in the order of their sections.
    for (int i = 0; i < ini.SectionCount(); ++i) {
        const std::string& name = ini.Section(i)->Name();
        if (name.size() <= 7 || !SameTextFolded(std::string_view(name).substr(0, 7), "ACTION-")) continue;
        const std::string rest = name.substr(7);
        if (ActionType(rest) != kNavActionNone) actions_.push_back(rest);
    }

    // 2. The grid.
    recommendedScale_ = static_cast<float>(ini.ReadFloat("Common", "RecommendedScale", 8.0));
    cols_ = std::max(0, ini.ReadInteger("Common", "ColsCount", 0));
    rows_ = std::max(0, ini.ReadInteger("Common", "RowsCount", 0));
    if (static_cast<std::int64_t>(cols_) * rows_ > 10000)
        throw ENavSkinError("Grid of " + std::to_string(cols_) + " x " + std::to_string(rows_) +
                            " cells too large");
    leftOffset_ = SkinNumber(ini.ReadInteger("CellWithObjects", "LeftOffset", 0));
    topOffset_ = SkinNumber(ini.ReadInteger("CellWithObjects", "TopOffset", 0));
    rightOffset_ = SkinNumber(ini.ReadInteger("CellWithObjects", "RightOffset", 0));
    bottomOffset_ = SkinNumber(ini.ReadInteger("CellWithObjects", "BottomOffset", 0));
    const std::vector<std::string> cell = SplitSkinList(ini.ReadString("CellWithObjects", "Cell", ""));
    if (cell.size() != 2) throw ENavSkinError("Incorrect number of parameters in field \"Cell\"");
    objectCol_ = ListInt(cell[0]);
    objectRow_ = ListInt(cell[1]);
    if (cols_ > 0 && rows_ > 0 &&
        (objectCol_ < 1 || objectRow_ < 1 || objectCol_ > cols_ || objectRow_ > rows_))
        throw ENavSkinError("The cell with objects (" + cell[0] + ":" + cell[1] + ") lies outside the " +
                            std::to_string(cols_) + " x " + std::to_string(rows_) + " grid");

    // 3. The cells.
    cells_.resize(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_));
    for (int i = 1; i <= cols_; ++i) {
        for (int j = 1; j <= rows_; ++j) {
            const std::string name = "Cell(" + std::to_string(i) + ":" + std::to_string(j) + ")";
            const TIniSection* section = ini.FindSection(name);
            TCell& c = Cell(i, j);
            const std::string type = section ? section->GetText("TextureType") : std::string();
            c.tiled = SameTextFolded(type, "repeat");
            const std::vector<std::string> bounds =
                SplitSkinList(section ? section->GetText("Bounds") : std::string());
            if (bounds.size() != 4)
                throw ENavSkinError("Incorrect number of parameters in field \"Bounds\" in [" + name + "]");
            const int left = ListInt(bounds[0]);
            const int top = ListInt(bounds[1]);
            c.bounds = {left, top, left + ListInt(bounds[2]), top + ListInt(bounds[3])};
            c.width = std::max(0, c.bounds.Width());
            c.height = std::max(0, c.bounds.Height());
            c.picture = Picture(section->GetText("flnm_Texture"));
        }
    }
    loaded_ = true;
    Layout();
}

void TNavBar::SetButtons(std::vector<int> selection) {
    KIV_ASSERT(loaded_, "TNavBar: buttons before the skin");
    selection_ = std::move(selection);
    ReadButtons();
    Layout();
    dirty_ = {0, 0, totalWidth_, totalHeight_};
    Redraw();
}

void TNavBar::ReadButtons() {
    buttons_.clear();
    pressed_ = -1;
    capturing_ = false;
    const TIniFile& ini = *skin_;
    int count = ini.ReadInteger("Objects", "Count", 0);
    count = std::clamp(count, 0, static_cast<int>(selection_.size()));
    std::vector<TButton> buttons;
    for (int p = 0; p < count; ++p) {
        const TIniSection* object = ini.FindSection("Object" + std::to_string(p + 1));
        TButton b;
        if (object) {
            b.shiftPressed = SkinNumber(object->GetInt32("ShiftPressed", 0));
            b.grayNormal = object->GetBool("GrayNormal", false);
            b.grayDisabled = object->GetBool("GrayDisabled", false);
            b.x = SkinNumber(object->GetInt32("Left", 0));
            b.y = SkinNumber(object->GetInt32("Top", 0));
            b.space = SkinNumber(object->GetInt32("Space", 0));
        }
        const int index = selection_[static_cast<std::size_t>(p)];
        if (index >= 0 && index < static_cast<int>(actions_.size()))
            b.name = actions_[static_cast<std::size_t>(index)];
        const TIniSection* action = b.name.empty() ? nullptr : ini.FindSection("Action-" + b.name);
        if (action) {
            b.actionType = ActionType(action->GetText("ActionType"));
            b.action = action->GetText("Action");
            static constexpr std::array<std::string_view, 4> kStates = {"Normal", "Hover", "Pressed",
                                                                        "Disabled"};
            const std::string normalFace = action->GetText("flnm_BtnTextureNormal");
            const std::string normalBack = action->GetText("flnm_BgTextureNormal");
            const TNavRect faceBounds = ReadBounds(*action, "BtnTextureNormalBounds", {});
            const TNavRect backBounds = ReadBounds(*action, "BgTextureNormalBounds", {});
            const std::string normalPlay = action->GetText("flnm_BtnTextureNormalPlay");
            b.hasPlay = !normalPlay.empty();
            for (std::size_t s = 0; s < 4; ++s) {
                const std::string st(kStates[s]);
                const TNavRect fb =
                    s == 0 ? faceBounds : ReadBounds(*action, "BtnTexture" + st + "Bounds", faceBounds);
                const TNavRect bb =
                    s == 0 ? backBounds : ReadBounds(*action, "BgTexture" + st + "Bounds", backBounds);
                const std::string ff =
                    s == 0 ? normalFace : action->GetText("flnm_BtnTexture" + st, normalFace);
                const std::string bf =
                    s == 0 ? normalBack : action->GetText("flnm_BgTexture" + st, normalBack);
                const std::string pf =
                    s == 0 ? normalPlay : action->GetText("flnm_BtnTexture" + st + "Play", normalPlay);
                const bool grey = (s == kNavNormal && b.grayNormal) || (s == kNavDisabled && b.grayDisabled);
                const bool disabled = s == kNavDisabled && b.grayDisabled;
                if (grey) {
                    b.face[s] = Derived(ff, fb, disabled);
                    if (b.hasPlay) b.play[s] = Derived(pf, fb, disabled);
                } else {
                    b.face[s] = {Picture(ff), fb};
                    if (b.hasPlay) b.play[s] = {Picture(pf), fb};
                }
                b.background[s] = {Picture(bf), bb};
            }
            b.width = std::max(0, backBounds.Width());
            b.height = std::max(0, backBounds.Height());
        }
        buttons.push_back(std::move(b));
    }
    buttons_ = std::move(buttons);
}

void TNavBar::Layout() {
    if (!loaded_ || cols_ == 0 || rows_ == 0) {
        totalWidth_ = totalHeight_ = 0;
        return;
    }
    for (int i = 1; i <= cols_; ++i) {
        for (int j = 1; j <= rows_; ++j) {
            TCell& c = Cell(i, j);
            c.width = std::max(0, c.bounds.Width());
            c.height = std::max(0, c.bounds.Height());
        }
    }
    int width = leftOffset_ + rightOffset_;
    int height = topOffset_ + bottomOffset_;
    TCell& object = Cell(objectCol_, objectRow_);
    if (!buttons_.empty()) {
        for (const TButton& b : buttons_)
            width += b.width + b.space;
        height += buttons_.front().height;
        for (int j = 1; j <= rows_; ++j)
            Cell(objectCol_, j).width = std::max(0, width);
        for (int i = 1; i <= cols_; ++i)
            Cell(i, objectRow_).height = std::max(0, height);
    } else {
        object.width = std::max(0, width);
        object.height = std::max(0, height);
    }
    std::vector<int> colX(static_cast<std::size_t>(cols_) + 1, 0);
    std::vector<int> rowY(static_cast<std::size_t>(rows_) + 1, 0);
    for (int i = 1; i <= cols_; ++i)
        colX[static_cast<std::size_t>(i)] = colX[static_cast<std::size_t>(i) - 1] + Cell(i, 1).width;
    for (int j = 1; j <= rows_; ++j)
        rowY[static_cast<std::size_t>(j)] = rowY[static_cast<std::size_t>(j) - 1] + Cell(1, j).height;
    for (int i = 1; i <= cols_; ++i) {
        for (int j = 1; j <= rows_; ++j) {
            Cell(i, j).x = colX[static_cast<std::size_t>(i) - 1];
            Cell(i, j).y = rowY[static_cast<std::size_t>(j) - 1];
        }
    }
    int x = object.x + leftOffset_;
    const int y = object.y + topOffset_;
    for (TButton& b : buttons_) {
        b.x = x;
        b.y = y;
        x += b.width + b.space;
    }
    totalWidth_ = colX[static_cast<std::size_t>(cols_)];
    totalHeight_ = rowY[static_cast<std::size_t>(rows_)];
    // A bar is a strip of a few hundred pixels; a skin that asks for a canvas of gigabytes is broken.
    if (totalWidth_ > kMaxCanvasSide || totalHeight_ > kMaxCanvasSide) {
        const std::string size = std::to_string(totalWidth_) + " x " + std::to_string(totalHeight_);
        totalWidth_ = totalHeight_ = 0;
        throw ENavSkinError("The skin lays out a bar of " + size + " pixels (at most " +
                            std::to_string(kMaxCanvasSide) + " a side)");
    }
}

TNavRect TNavBar::ButtonRect(int button) const {
    if (button < 0 || button >= ButtonCount()) return {};
    return buttons_[static_cast<std::size_t>(button)].Rect();
}

int TNavBar::ButtonState(int button) const {
    return buttons_.at(static_cast<std::size_t>(button)).state;
}

int TNavBar::ButtonActionType(int button) const {
    return buttons_.at(static_cast<std::size_t>(button)).actionType;
}

const std::string& TNavBar::ButtonAction(int button) const {
    return buttons_.at(static_cast<std::size_t>(button)).action;
}

const std::string& TNavBar::ButtonName(int button) const {
    return buttons_.at(static_cast<std::size_t>(button)).name;
}

void TNavBar::Invalidate(const TNavRect& rect) {
    dirty_ = Union(dirty_, rect);
}

void TNavBar::SetState(TButton& button, int state) {
    if (button.state == state) return;
    TNavRect rect = button.Rect();
    if (button.state == kNavPressed || state == kNavPressed) {
        rect.right += std::max(0, button.shiftPressed);
        rect.bottom += std::max(0, button.shiftPressed);
    }
    button.state = state;
    Invalidate(rect);
}

void TNavBar::SetButtonDisabled(int button, bool disabled) {
    if (button < 0 || button >= ButtonCount()) return;
    TButton& b = buttons_[static_cast<std::size_t>(button)];
    if (disabled == (b.state == kNavDisabled)) return;
    if (pressed_ == button) pressed_ = -1;
    SetState(b, disabled ? kNavDisabled : kNavNormal);
    Redraw();
}

void TNavBar::DrawPicture(const TPic& pic, int x, int y, int width, int height, const TNavRect& clip,
                          bool tile) {
    if (!pic.bitmap) return;
    const TNavRect source = Intersect(pic.bounds, {0, 0, pic.bitmap->Width(), pic.bitmap->Height()});
    if (source.IsEmpty() || pic.bounds.IsEmpty()) return;
    const int tw = pic.bounds.Width();
    const int th = pic.bounds.Height();
    const TNavRect area =
        Intersect(Intersect({x, y, x + width, y + height}, clip), {0, 0, totalWidth_, totalHeight_});
    for (int py = area.top; py < area.bottom; ++py) {
        int sy = py - y;
        if (tile)
            sy %= th;
        else if (sy >= th)
            break;
        sy += pic.bounds.top;
        if (sy < source.top || sy >= source.bottom) continue;
        const std::uint8_t* srow = pic.bitmap->Row(sy);
        std::uint8_t* drow = canvas_->Row(py);
        for (int px = area.left; px < area.right; ++px) {
            int sx = px - x;
            if (tile)
                sx %= tw;
            else if (sx >= tw)
                break;
            sx += pic.bounds.left;
            if (sx < source.left || sx >= source.right) continue;
            CompositePixel(drow + px * 4, srow + sx * 4);
        }
    }
}

void TNavBar::ShiftColors(const TNavRect& rect) {
    const int hueUnits = hue_ * 256 / 360;
    for (int y = rect.top; y < rect.bottom; ++y) {
        std::uint8_t* p = canvas_->Row(y) + rect.left * 4;
        for (int x = rect.left; x < rect.right; ++x, p += 4) {
            THslColor hsl = RgbToHsl(p[2], p[1], p[0]);
            hsl.h = ((hsl.h + hueUnits) % 256 + 256) % 256;
            hsl.s = std::clamp(hsl.s + saturation_, 0, 255);
            hsl.l = std::clamp(hsl.l + lightness_, 0, 255);
            const TRgbColor rgb = HslToRgb(hsl.h, hsl.s, hsl.l);
            p[0] = static_cast<std::uint8_t>(std::clamp(rgb.b, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(rgb.g, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(rgb.r, 0, 255));
        }
    }
}

void TNavBar::Redraw() {
    if (!loaded_ || dirty_.IsEmpty() || cols_ == 0 || rows_ == 0) return;
    if (totalWidth_ <= 0 || totalHeight_ <= 0) {
        dirty_ = {};
        return;
    }
    if (!canvas_ || canvas_->Width() != totalWidth_ || canvas_->Height() != totalHeight_) {
        canvas_ = MakeRef<TBitmap>(totalWidth_, totalHeight_, TPixelFormat::Bgra32);
        dirty_ = {0, 0, totalWidth_, totalHeight_};
    }
    const TNavRect rect = Intersect(dirty_, {0, 0, totalWidth_, totalHeight_});
    dirty_ = {};
    if (rect.IsEmpty()) return;
    for (int y = rect.top; y < rect.bottom; ++y)
        std::memset(canvas_->Row(y) + rect.left * 4, 0, static_cast<std::size_t>(rect.Width()) * 4);
    for (const TCell& c : cells_) {
        const TNavRect cell{c.x, c.y, c.x + c.width, c.y + c.height};
        if (Intersect(cell, rect).IsEmpty()) continue;
        DrawPicture({c.picture, c.bounds}, c.x, c.y, c.width, c.height, rect, true);
    }
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const TButton& b = buttons_[i];
        const int shift = b.state == kNavPressed ? b.shiftPressed : 0;
        TNavRect area = b.Rect();
        area.right += std::max(0, shift);
        area.bottom += std::max(0, shift);
        if (Intersect(area, rect).IsEmpty()) continue;
        const std::size_t s = static_cast<std::size_t>(std::clamp(b.state, 0, 3));
        DrawPicture(b.background[s], b.x, b.y, b.width, b.height, rect, false);
        bool usePlay = false;
        if (b.hasPlay) usePlay = isPlaying_ ? !isPlaying_(static_cast<int>(i)) : !playing_;
        const TPic& face = usePlay ? b.play[s] : b.face[s];
        if (face.bitmap) {
            const int pw = face.bounds.Width();
            const int ph = face.bounds.Height();
            const int fx = b.x + (b.width - pw) / 2 + shift;
            const int fy = b.y + (b.height - ph) / 2 + shift;
            DrawPicture(face, fx, fy, pw, ph, rect, false);
        }
    }
    if (hue_ != 0 || saturation_ != 0 || lightness_ != 0) ShiftColors(rect);
    if (onInvalidate_) onInvalidate_(*this, rect);
}

void TNavBar::RefreshPlayState() {
    int first = -1;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        if (buttons_[i].hasPlay) {
            first = static_cast<int>(i);
            break;
        }
    }
    const bool playing = isPlaying_ ? isPlaying_(first) : true;
    if (playing == playing_ && !firstRefresh_) return;
    playing_ = playing;
    firstRefresh_ = false;
    if (first >= 0) {
        Invalidate(buttons_[static_cast<std::size_t>(first)].Rect());
        Redraw();
    }
}

void TNavBar::ResetHover() {
    for (TButton& b : buttons_)
        if (b.state != kNavDisabled) SetState(b, kNavNormal);
    Redraw();
}

void TNavBar::MouseMove(int modifiers, int x, int y) {
    if (!capturing_ && !InCanvas(x, y)) {
        if (hovering_) {
            for (TButton& b : buttons_)
                if (b.state != kNavDisabled) SetState(b, kNavNormal);
            hovering_ = false;
        }
    } else if ((modifiers & kNavHeldModifier) != 0 && !capturing_) {
        return;
    } else {
        hovering_ = true;
        for (std::size_t i = 0; i < buttons_.size(); ++i) {
            TButton& b = buttons_[i];
            if (b.state == kNavDisabled) continue;
            if (b.Rect().Contains(x, y)) {
                if (!capturing_)
                    SetState(b, kNavHover);
                else
                    SetState(b, static_cast<int>(i) == pressed_ ? kNavPressed : kNavNormal);
            } else {
                SetState(b, kNavNormal);
            }
        }
    }
    Redraw();
}

void TNavBar::MouseEvent(int button, int modifiers, int kind, int x, int y) {
    switch (kind) {
    case 0:
        MouseMove(modifiers, x, y);
        return;
    case 1:
        if (button != 1 || !InCanvas(x, y)) return;
        capturing_ = true;
        pressed_ = -1;
        for (std::size_t i = 0; i < buttons_.size(); ++i) {
            TButton& b = buttons_[i];
            if (b.state == kNavDisabled) continue;
            if (b.Rect().Contains(x, y)) {
                SetState(b, kNavPressed);
                pressed_ = static_cast<int>(i);
            } else {
                SetState(b, kNavNormal);
            }
        }
        Redraw();
        return;
    case 2: {
        if (!InCanvas(x, y)) {
            if (!hovering_) {
                // A press that never saw a move must not leave the bar capturing.
                if (button == 1) {
                    capturing_ = false;
                    pressed_ = -1;
                }
                return;
            }
            hovering_ = false;
        }
        if (button == 1) {
            const int pressed = pressed_;
            if (capturing_ && pressed >= 0 && onClick_) {
                const TButton& b = buttons_[static_cast<std::size_t>(pressed)];
                if (b.state != kNavDisabled && b.Rect().Contains(x, y)) onClick_(*this, pressed);
            }
            capturing_ = false;
            pressed_ = -1;
        }
        MouseMove(modifiers, x, y);
        return;
    }
    default:
        KIV_FAIL("Assertion failure");
    }
}

} // namespace kiv
