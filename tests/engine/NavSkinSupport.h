// A small navigation-bar skin for the bar and overlay tests: its text and its pictures.
//
// bar.png 30 × 20: three bands of 10 pixels, red, green and blue. The grid is 3 × 1 cells cut from
// those bands; the middle cell (2, 1) holds the buttons with offsets left 3, top 2, right 5,
// bottom 2. bg.png 16 × 16 opaque black is every button's background; faces.png 32 × 8 holds four
// 8 × 8 faces: normal white, hover yellow, pressed cyan, disabled grey. play.png has the same
// layout in magenta. Buttons: home (space 2), pause (space 2, shift 1, Play pictures), exit.
// Laid out: cells at x 0, 10, 70 (widths 10, 60, 10), total 80 × 20; buttons at x 13, 31, 49, y 2,
// 16 × 16 each.
#pragma once

#include "images/Bitmap.h"

#include <cstdint>
#include <map>
#include <string>

namespace kiv::test {

constexpr std::uint32_t kRed = 0xFFFF0000u;
constexpr std::uint32_t kGreen = 0xFF00FF00u;
constexpr std::uint32_t kBlue = 0xFF0000FFu;
constexpr std::uint32_t kBlack = 0xFF000000u;
constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kYellow = 0xFFFFFF00u;
constexpr std::uint32_t kCyan = 0xFF00FFFFu;
constexpr std::uint32_t kGrey = 0xFF808080u;
constexpr std::uint32_t kMagenta = 0xFFFF00FFu;

inline std::uint32_t PixelAt(const TBitmap& bitmap, int x, int y) {
    const std::uint8_t* p = bitmap.Row(y) + x * 4;
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

inline void FillRect(TBitmap& bitmap, int left, int top, int right, int bottom, std::uint32_t argb) {
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* p = bitmap.Row(y) + left * 4;
        for (int x = left; x < right; ++x, p += 4) {
            p[0] = static_cast<std::uint8_t>(argb);
            p[1] = static_cast<std::uint8_t>(argb >> 8);
            p[2] = static_cast<std::uint8_t>(argb >> 16);
            p[3] = static_cast<std::uint8_t>(argb >> 24);
        }
    }
}

inline TRef<TBitmap> Solid(int width, int height, std::uint32_t argb) {
    auto bitmap = MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32);
    FillRect(*bitmap, 0, 0, width, height, argb);
    return bitmap;
}

// The skin's pictures by file name.
inline std::map<std::string, TRef<TBitmap>> SkinPictures() {
    std::map<std::string, TRef<TBitmap>> pictures;
    auto bar = MakeRef<TBitmap>(30, 20, TPixelFormat::Bgra32);
    FillRect(*bar, 0, 0, 10, 20, kRed);
    FillRect(*bar, 10, 0, 20, 20, kGreen);
    FillRect(*bar, 20, 0, 30, 20, kBlue);
    pictures["bar.png"] = bar;
    pictures["bg.png"] = Solid(16, 16, kBlack);
    auto faces = MakeRef<TBitmap>(32, 8, TPixelFormat::Bgra32);
    FillRect(*faces, 0, 0, 8, 8, kWhite);
    FillRect(*faces, 8, 0, 16, 8, kYellow);
    FillRect(*faces, 16, 0, 24, 8, kCyan);
    FillRect(*faces, 24, 0, 32, 8, kGrey);
    pictures["faces.png"] = faces;
    pictures["play.png"] = Solid(32, 8, kMagenta);
    return pictures;
}

// The action section of a button; `extra` adds lines.
inline std::string ActionSection(const std::string& name, const std::string& extra = {}) {
    return "[ACTION-" + name + "]\nActionType=" + name + "\nAction=do-" + name +
           "\nflnm_BtnTextureNormal=faces.png\nBtnTextureNormalBounds=0,0,8,8\n"
           "BtnTextureHoverBounds=8,0,8,8\nBtnTexturePressedBounds=16,0,8,8\n"
           "BtnTextureDisabledBounds=24,0,8,8\nflnm_BgTextureNormal=bg.png\nBgTextureNormalBounds=0,0,16,"
           "16\n" +
           extra;
}

inline std::string SkinText(const std::string& objects = "[Objects]\nCount=3\n") {
    return "[Common]\nRecommendedScale=6.5\nColsCount=3\nRowsCount=1\n"
           "[CellWithObjects]\nCell=2, 1\nLeftOffset=3\nTopOffset=2\nRightOffset=5\nBottomOffset=2\n"
           "[Cell(1:1)]\nBounds=0,0,10,20\nflnm_Texture=bar.png\n"
           "[Cell(2:1)]\nTextureType=Repeat\nBounds=10,0,10,20\nflnm_Texture=bar.png\n"
           "[Cell(3:1)]\nBounds=20,0,10,20\nflnm_Texture=bar.png\n" +
           objects + "[Object1]\nSpace=2\n[Object2]\nSpace=2\nShiftPressed=1\n[Object3]\nSpace=0\n" +
           ActionSection("home") + ActionSection("unknown") +
           ActionSection("pause", "flnm_BtnTextureNormalPlay=play.png\n") + ActionSection("exit");
}

} // namespace kiv::test
