// The slide drawer's pixel shaders by name: their source text in the device's shader language.
#pragma once

#include <array>
#include <string_view>

namespace kiv {

inline constexpr std::array<std::string_view, 14> kDrawerShaderNames = {"unsharp",
                                                                        "videomask",
                                                                        "color_grading",
                                                                        "color_grade_linear",
                                                                        "color_grade_video",
                                                                        "color_grade_deinter",
                                                                        "color_grade_chromakey",
                                                                        "color_grade_chroma_deinter",
                                                                        "premul",
                                                                        "premul2",
                                                                        "premul3",
                                                                        "gauss_blur_h7",
                                                                        "gauss_blur_v7",
                                                                        "gauss_mix"};

// The source of the named shader; null for a name outside the catalog.
const char* DrawerShaderSource(std::string_view name);

} // namespace kiv
