// The fixed-function vertex stage: v · World · View · Projection with row vectors (the matrix
// arrives as rows, so GLSL's column-major "M * v" computes v · M). Clip-space Y is negated so that
// row 0 of every target is the top row, and Direct3D's 0 … w depth range becomes GL's −w … w.
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
out vec4 vSpecular;
out vec2 vTex[8];

void main() {
    vec4 p = uWorldViewProj * vec4(aPos, 1.0);
    gl_Position = vec4(p.x, -p.y, 2.0 * p.z - p.w, p.w);
    vColor = aDiffuse;
    vSpecular = aSpecular;
    vTex[0] = aTex0;
    vTex[1] = aTex1;
    vTex[2] = aTex2;
    vTex[3] = aTex3;
    vTex[4] = aTex4;
    vTex[5] = aTex5;
    vTex[6] = aTex6;
    vTex[7] = aTex7;
}
