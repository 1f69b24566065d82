// The seven colour filters a keyframe can carry. Each reads its parameters (plain keys of its
// "Filter" project object, clamped to their ranges) in Update and then maps table pixels (BGRA)
// with exact integer arithmetic, setting alpha to 255. The first three work per channel (kind 2);
// the colorisations and HSL mix the channels and need the 3-D table (kind 3).
#pragma once

#include "objects/FilterRegistry.h"
#include "objects/ObjectFilter.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kiv {

// A per-channel filter: Update fills a 256-entry lookup table that maps each of B, G, R.
class TChannelFilter : public TObjectFilter {
public:
    void ApplyToTable(std::uint8_t* pixels, int width, int rows) override;
    int Kind() const override { return kFilterChannel; }
    std::uint8_t Map(int channel) const noexcept { return lookup_[static_cast<std::size_t>(channel & 0xFF)]; }

protected:
    using TObjectFilter::TObjectFilter;
    std::array<std::uint8_t, 256> lookup_{};
};

// "BrightContrast": c' = clamp(trunc(c × k + o)) with k and o from `bright` and `contrast`.
class TBrightContrastGenerator final : public TChannelFilter {
public:
    TBrightContrastGenerator();
    bool Update() override;
    int ParamCount() const override { return 2; }
    TFilterParamInfo ParamInfo(int index) const override;
    // Fills the lookup for the given values (clamped to -100..100).
    void SetValues(int bright, int contrast);
};

// "Invert": c' = 255 - c.
class TInvertColor final : public TChannelFilter {
public:
    TInvertColor();
    bool Update() override;
};

// "Levels": input range `Min`..`Max` and midtone `Med` as a gamma.
class TLevelsGenerator final : public TChannelFilter {
public:
    TLevelsGenerator();
    bool Update() override;
    int ParamCount() const override { return 3; }
    TFilterParamInfo ParamInfo(int index) const override;
    void SetValues(int minimum, int medium, int maximum);
    double Gamma() const noexcept { return gamma_; }

private:
    double gamma_ = 1.0;
};

// "Colorization" and its two variants: each channel moves towards a tint of `Color` by `Amount`.
class TColorizationGenerator : public TObjectFilter {
public:
    TColorizationGenerator();
    bool Update() override;
    void ApplyToTable(std::uint8_t* pixels, int width, int rows) override;
    int Kind() const override { return kFilterVolume; }
    int ParamCount() const override { return 2; }
    TFilterParamInfo ParamInfo(int index) const override;
    // Amount clamped to 0..100; color as 0xAARRGGBB.
    void SetValues(int amount, std::uint32_t color);
    // One pixel: channel values and the pixel's luminance-free inputs.
    void MapPixel(int& r, int& g, int& b) const noexcept;

protected:
    explicit TColorizationGenerator(std::string caption);
    // The tint of channel value `c` with colour component `component`.
    virtual int Tint(int y, int component, int c) const noexcept;

private:
    int amount_ = 256; // round(Amount × 0.01 × 256)
    int red_ = 0;
    int green_ = 0;
    int blue_ = 0;
};

// "Colorisation2": the tint is (C × c) div 256.
class TColorMultiply final : public TColorizationGenerator {
public:
    TColorMultiply();

protected:
    int Tint(int y, int component, int c) const noexcept override;
};

// "Colorisation3": the tint is min((C × c) >> 7, 255).
class TDoubleColorMultiply final : public TColorizationGenerator {
public:
    TDoubleColorMultiply();

protected:
    int Tint(int y, int component, int c) const noexcept override;
};

// "HSL": shifts hue, saturation and lightness.
class THSLGenerator final : public TObjectFilter {
public:
    THSLGenerator();
    bool Update() override;
    void ApplyToTable(std::uint8_t* pixels, int width, int rows) override;
    int Kind() const override { return kFilterVolume; }
    int ParamCount() const override { return 3; }
    TFilterParamInfo ParamInfo(int index) const override;
    // Hue clamped to -180..180, saturation and lightness to -100..100.
    void SetValues(int hue, int saturation, int lightness);
    void MapPixel(int& r, int& g, int& b) const noexcept;

private:
    int hueShift_ = 0;
    int saturationShift_ = 0;
    int lightnessShift_ = 0;
};

// The seven classes, registered as "BrightContrast", "Invert", "Levels", "Colorization",
// "Colorisation2", "Colorisation3" and "HSL" by the filter registry on first use.
std::vector<TFilterClass> BuiltInColorFilterClasses();

} // namespace kiv
