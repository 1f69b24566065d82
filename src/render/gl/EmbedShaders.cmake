# Writes the GLSL files given in SOURCES (a ;-list) into OUTPUT as C++ string constants named
# after the files (fixed.vert → kShader_fixed_vert). Run at build time by the render library.
set(text "// Generated from src/render/gl/shaders at build time; do not edit.\n#pragma once\n\nnamespace kiv {\n")
foreach(src IN LISTS SOURCES)
    get_filename_component(name ${src} NAME)
    string(REPLACE "." "_" ident ${name})
    file(READ ${src} body)
    string(APPEND text "inline constexpr const char* kShader_${ident} = R\"glsl(${body})glsl\";\n")
endforeach()
string(APPEND text "} // namespace kiv\n")
file(WRITE ${OUTPUT}.tmp "${text}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
