#include "objects/ColorFilters.h"

#include "base/ColorValue.h"
#include "base/NumberText.h"
#include "objects/Hsl.h"
#include "project/ExpressionFunctions.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiv {

namespace {

int ReadClamped(const TObjectFilter& filter, const char* key, int fallback, int low, int high) {
    const TIniObject* object = filter.ProjectObject();
    const int value = object ? object->GetInt32(key, fallback) : fallback;
    return std::clamp(value, low, high);
}

// clamp(trunc(x)) for any double, NaN included (which gives 0).
std::uint8_t ClampTrunc(double x) noexcept {
    if (!(x > 0.0)) return 0;
    if (x >= 255.0) return 255;
    return static_cast<std::uint8_t>(x);
}

TFilterParamInfo NumberParam(const char* key, const char* caption, double minimum, double maximum,
                             double fallback) {
    TFilterParamInfo info;
    info.key = key;
    info.caption = caption;
    info.kind = kParamNumber;
    info.minimum = minimum;
    info.maximum = maximum;
    info.defaultValue = fallback;
    return info;
}

} // namespace

// --- Per-channel filters ---

namespace {

// Runs `map` over every BGRA entry of a colour table, leaving it opaque.
template <class TMap>
void MapTablePixels(std::uint8_t* pixels, int width, int rows, const TMap& map) {
    if (!pixels || width <= 0 || rows <= 0) return;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(rows);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* p = pixels + i * 4;
        int r = p[2], g = p[1], b = p[0];
        map(r, g, b);
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
        p[3] = 255;
    }
}

} // namespace

void TChannelFilter::ApplyToTable(std::uint8_t* pixels, int width, int rows) {
    MapTablePixels(pixels, width, rows, [this](int& r, int& g, int& b) {
        r = lookup_[r];
        g = lookup_[g];
        b = lookup_[b];
    });
}

TBrightContrastGenerator::TBrightContrastGenerator() : TChannelFilter("Brightness / Contrast") {
    SetValues(0, 0);
}

bool TBrightContrastGenerator::Update() {
    SetValues(ReadClamped(*this, "bright", 0, -100, 100), ReadClamped(*this, "contrast", 0, -100, 100));
    return true;
}

void TBrightContrastGenerator::SetValues(int bright, int contrast) {
    bright = std::clamp(bright, -100, 100);
    contrast = std::clamp(contrast, -100, 100);
    const double angle = (100 - contrast) * std::numbers::pi * 0.0025;
    const double slope =
        std::fabs(angle) <= 0.001 ? 10000.0 : std::min(10000.0, std::max(0.0, 1.0 / std::tan(angle)));
    const float k = static_cast<float>(slope);
    const float o = static_cast<float>(((1.0 - k) * 0.5 + k * bright / 255.0) * 255.0);
    for (int c = 0; c < 256; ++c)
        lookup_[static_cast<std::size_t>(c)] =
            ClampTrunc(c * static_cast<double>(k) + static_cast<double>(o));
}

TFilterParamInfo TBrightContrastGenerator::ParamInfo(int index) const {
    if (index == 0) return NumberParam("bright", "Brightness", -100, 100, 0);
    if (index == 1) return NumberParam("contrast", "Contrast", -100, 100, 0);
    return {};
}

TInvertColor::TInvertColor() : TChannelFilter("Invert") {
    for (int c = 0; c < 256; ++c)
        lookup_[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(255 - c);
}

bool TInvertColor::Update() {
    return true;
}

TLevelsGenerator::TLevelsGenerator() : TChannelFilter("Levels") {
    SetValues(0, 0, 255);
}

bool TLevelsGenerator::Update() {
    SetValues(ReadClamped(*this, "Min", 0, 0, 255), ReadClamped(*this, "Med", 0, -100, 100),
              ReadClamped(*this, "Max", 255, 0, 255));
    return true;
}

void TLevelsGenerator::SetValues(int minimum, int medium, int maximum) {
    minimum = std::clamp(minimum, 0, 255);
    medium = std::clamp(medium, -100, 100);
    maximum = std::clamp(maximum, 0, 255);
    const double scale = maximum == minimum ? 1.0 : 1.0 / (maximum - minimum);
    const double gamma = medium == -100 ? 10.0 : (100.0 - medium) / (100.0 + medium);
    gamma_ = std::clamp(gamma, 0.1, 10.0);
    for (int c = 0; c < 256; ++c) {
        const double base = std::max(c - minimum, 0) * scale;
        // A range with Max below Min gives negative bases, whose powers are not real: black.
        // The tiny allowance keeps exact results (the identity, 0..255 to itself) from truncating
        // one step down through the rounding of 1 ÷ (Max - Min).
        const double value = base < 0.0 ? 0.0 : PowerValue(base, gamma_) * 255.0 + 1e-9;
        lookup_[static_cast<std::size_t>(c)] = ClampTrunc(value);
    }
}

TFilterParamInfo TLevelsGenerator::ParamInfo(int index) const {
    if (index == 0) return NumberParam("Min", "Black point", 0, 255, 0);
    if (index == 1) return NumberParam("Med", "Midtones", -100, 100, 0);
    if (index == 2) return NumberParam("Max", "White point", 0, 255, 255);
    return {};
}

// --- Colorisations ---

TColorizationGenerator::TColorizationGenerator() : TColorizationGenerator("Colorization") {}

TColorizationGenerator::TColorizationGenerator(std::string caption) : TObjectFilter(std::move(caption)) {
    SetValues(100, 0);
}

bool TColorizationGenerator::Update() {
    const TIniObject* object = ProjectObject();
    const std::uint32_t color = object ? ReadColorValue(object->GetText("Color"), 0) : 0;
    SetValues(ReadClamped(*this, "Amount", 100, 0, 100), color);
    return true;
}

void TColorizationGenerator::SetValues(int amount, std::uint32_t color) {
    amount = std::clamp(amount, 0, 100);
    amount_ = static_cast<int>(RoundHalfEven(amount * 0.01 * 256));
    red_ = static_cast<int>((color >> 16) & 0xFF);
    green_ = static_cast<int>((color >> 8) & 0xFF);
    blue_ = static_cast<int>(color & 0xFF);
}

int TColorizationGenerator::Tint(int y, int component, int) const noexcept {
    return (y * component) >> 7;
}

void TColorizationGenerator::MapPixel(int& r, int& g, int& b) const noexcept {
    const int y = (r * 13933 + g * 46871 + b * 7471) >> 16;
    auto channel = [&](int c, int component) {
        int delta = amount_ * (Tint(y, component, c) - c);
        if (delta < 0) delta += 255;
        return std::min(c + (delta >> 8), 255);
    };
    const int r2 = channel(r, red_);
    const int g2 = channel(g, green_);
    const int b2 = channel(b, blue_);
    r = r2;
    g = g2;
    b = b2;
}

void TColorizationGenerator::ApplyToTable(std::uint8_t* pixels, int width, int rows) {
    MapTablePixels(pixels, width, rows, [this](int& r, int& g, int& b) { MapPixel(r, g, b); });
}

TFilterParamInfo TColorizationGenerator::ParamInfo(int index) const {
    if (index == 0) return NumberParam("Amount", "Amount", 0, 100, 100);
    if (index == 1) {
        TFilterParamInfo info = NumberParam("Color", "Colour", 0, 0xFFFFFF, 0);
        info.kind = kParamColor;
        return info;
    }
    return {};
}

TColorMultiply::TColorMultiply() : TColorizationGenerator("Colorisation (multiply)") {}

int TColorMultiply::Tint(int, int component, int c) const noexcept {
    return (component * c) / 256;
}

TDoubleColorMultiply::TDoubleColorMultiply() : TColorizationGenerator("Colorisation (double multiply)") {}

int TDoubleColorMultiply::Tint(int, int component, int c) const noexcept {
    return std::min((component * c) >> 7, 255);
}

// --- HSL ---

THSLGenerator::THSLGenerator() : TObjectFilter("Hue / Saturation / Lightness") {}

bool THSLGenerator::Update() {
    SetValues(ReadClamped(*this, "Hue", 0, -180, 180), ReadClamped(*this, "Saturation", 0, -100, 100),
              ReadClamped(*this, "Lightness", 0, -100, 100));
    return true;
}

void THSLGenerator::SetValues(int hue, int saturation, int lightness) {
    hueShift_ = static_cast<int>(RoundHalfEven(std::clamp(hue, -180, 180) / 360.0 * 256.0));
    saturationShift_ = static_cast<int>(RoundHalfEven(std::clamp(saturation, -100, 100) * 2.56));
    lightnessShift_ = static_cast<int>(RoundHalfEven(std::clamp(lightness, -100, 100) * 2.56));
}

void THSLGenerator::MapPixel(int& r, int& g, int& b) const noexcept {
    THslColor hsl = RgbToHsl(r, g, b);
    hsl.h += hueShift_;
    if (hsl.h < 0) hsl.h += 256;
    if (hsl.h > 255) hsl.h -= 256;
    hsl.s = std::clamp(hsl.s + saturationShift_, 0, 255);
    hsl.l = std::clamp(hsl.l + lightnessShift_, 0, 255);
    const TRgbColor rgb = HslToRgb(hsl.h, hsl.s, hsl.l);
    r = rgb.r;
    g = rgb.g;
    b = rgb.b;
}

void THSLGenerator::ApplyToTable(std::uint8_t* pixels, int width, int rows) {
    MapTablePixels(pixels, width, rows, [this](int& r, int& g, int& b) { MapPixel(r, g, b); });
}

TFilterParamInfo THSLGenerator::ParamInfo(int index) const {
    if (index == 0) return NumberParam("Hue", "Hue", -180, 180, 0);
    if (index == 1) return NumberParam("Saturation", "Saturation", -100, 100, 0);
    if (index == 2) return NumberParam("Lightness", "Lightness", -100, 100, 0);
    return {};
}

std::vector<TFilterClass> BuiltInColorFilterClasses() {
    return {
        {"BrightContrast", "Brightness / Contrast",
         [] { return TRef<TObjectFilter>(MakeRef<TBrightContrastGenerator>()); }},
        {"Invert", "Invert", [] { return TRef<TObjectFilter>(MakeRef<TInvertColor>()); }},
        {"Levels", "Levels", [] { return TRef<TObjectFilter>(MakeRef<TLevelsGenerator>()); }},
        {"Colorization", "Colorization",
         [] { return TRef<TObjectFilter>(MakeRef<TColorizationGenerator>()); }},
        {"Colorisation2", "Colorisation (multiply)",
         [] { return TRef<TObjectFilter>(MakeRef<TColorMultiply>()); }},
        {"Colorisation3", "Colorisation (double multiply)",
         [] { return TRef<TObjectFilter>(MakeRef<TDoubleColorMultiply>()); }},
        {"HSL", "Hue / Saturation / Lightness", [] { return TRef<TObjectFilter>(MakeRef<THSLGenerator>()); }},
    };
}

} // namespace kiv
