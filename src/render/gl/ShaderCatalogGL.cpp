#include "render/ShaderCatalog.h"

#include "render/gl/ShaderSources.h"

namespace kiv {

const char* DrawerShaderSource(std::string_view name) {
    struct TEntry {
        std::string_view name;
        const char* source;
    };
    static constexpr TEntry kEntries[] = {
        {"unsharp", kShader_unsharp_frag},
        {"videomask", kShader_videomask_frag},
        {"color_grading", kShader_color_grading_frag},
        {"color_grade_linear", kShader_color_grade_linear_frag},
        {"color_grade_video", kShader_color_grade_video_frag},
        {"color_grade_deinter", kShader_color_grade_deinter_frag},
        {"color_grade_chromakey", kShader_color_grade_chromakey_frag},
        {"color_grade_chroma_deinter", kShader_color_grade_chroma_deinter_frag},
        {"premul", kShader_premul_frag},
        {"premul2", kShader_premul2_frag},
        {"premul3", kShader_premul3_frag},
        {"gauss_blur_h7", kShader_gauss_blur_h7_frag},
        {"gauss_blur_v7", kShader_gauss_blur_v7_frag},
        {"gauss_mix", kShader_gauss_mix_frag},
    };
    for (const auto& entry : kEntries)
        if (entry.name == name) return entry.source;
    return nullptr;
}

} // namespace kiv
