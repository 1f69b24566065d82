// The fixed-function vertex stage: v · World · View · Projection with row vectors (the matrix
// arrives as rows, so GLSL's column-major "M * v" computes v · M). Clip-space Y is negated so that
// row 0 of every target is the top row, and Direct3D's 0 … w depth range becomes GL's −w … w.
// TEXSETS (1 … 8) is defined in front of this text: only that many coordinate sets are passed on,
// since every output is interpolated for every pixel.
layout(location = 0) in vec3 aPos;
layout(location = 1) in vec4 aDiffuse;
layout(location = 2) in vec4 aSpecular;
layout(location = 4) in vec2 aTex0;
layout(location = 5) in vec2 aTex1;
layout(location = 6) in vec2 aTex2;
layout(location = 7) in vec2 aTex3;
layout(location = 8) in vec2 aTex4;
layout(location = 9) in vec2 aTex5;
layout(location = 10) in vec2 aTex6;
layout(location = 11) in vec2 aTex7;

uniform mat4 uWorldViewProj;

out vec4 vColor;
out vec2 vTex[TEXSETS];
#if TEXSETS == 8
out vec4 vSpecular;
#endif

void main() {
    vec4 p = uWorldViewProj * vec4(aPos, 1.0);
    gl_Position = vec4(p.x, -p.y, 2.0 * p.z - p.w, p.w);
    vColor = aDiffuse;
    vTex[0] = aTex0;
#if TEXSETS > 1
    vTex[1] = aTex1;
#endif
#if TEXSETS > 2
    vTex[2] = aTex2;
#endif
#if TEXSETS > 3
    vTex[3] = aTex3;
#endif
#if TEXSETS > 4
    vTex[4] = aTex4;
#endif
#if TEXSETS > 5
    vTex[5] = aTex5;
#endif
#if TEXSETS > 6
    vTex[6] = aTex6;
#endif
#if TEXSETS == 8
    vTex[7] = aTex7;
    vSpecular = aSpecular;
#endif
}
