// The fixed-function texture stages. STAGES (0 … 8) is defined in front of this text; one program
// is made per stage count. Stage i samples s<i> at texture coordinates i. uOps[i].x is the colour
// operation (0 select the texture, 1 modulate with the current colour), uOps[i].y the alpha
// operation (0 select the texture's alpha, 1 modulate, 2 keep the current alpha). The current
// colour starts as the vertex colour.
in vec4 vColor;
in vec4 vSpecular;
in vec2 vTex[8];

uniform sampler2D s0;
uniform sampler2D s1;
uniform sampler2D s2;
uniform sampler2D s3;
uniform sampler2D s4;
uniform sampler2D s5;
uniform sampler2D s6;
uniform sampler2D s7;
uniform ivec2 uOps[8];

out vec4 fragColor;

vec4 Stage(vec4 current, vec4 texel, ivec2 op) {
    vec3 rgb = op.x == 1 ? texel.rgb * current.rgb : texel.rgb;
    float a = op.y == 0 ? texel.a : (op.y == 1 ? texel.a * current.a : current.a);
    return vec4(rgb, a);
}

void main() {
    vec4 current = vColor;
#if STAGES > 0
    current = Stage(current, texture(s0, vTex[0]), uOps[0]);
#endif
#if STAGES > 1
    current = Stage(current, texture(s1, vTex[1]), uOps[1]);
#endif
#if STAGES > 2
    current = Stage(current, texture(s2, vTex[2]), uOps[2]);
#endif
#if STAGES > 3
    current = Stage(current, texture(s3, vTex[3]), uOps[3]);
#endif
#if STAGES > 4
    current = Stage(current, texture(s4, vTex[4]), uOps[4]);
#endif
#if STAGES > 5
    current = Stage(current, texture(s5, vTex[5]), uOps[5]);
#endif
#if STAGES > 6
    current = Stage(current, texture(s6, vTex[6]), uOps[6]);
#endif
#if STAGES > 7
    current = Stage(current, texture(s7, vTex[7]), uOps[7]);
#endif
    fragColor = current;
}
