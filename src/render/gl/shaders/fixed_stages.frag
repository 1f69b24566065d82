// The fixed-function texture stages. Defined in front of this text: STAGES (0 … 8), TEXSETS (the
// vertex stage's coordinate sets, at least STAGES and at least 1), and for each stage i < STAGES
// OPC<i>, the colour operation (0 select the texture, 1 modulate with the current colour), and
// OPA<i>, the alpha operation (0 select the texture's alpha, 1 modulate, 2 keep the current
// alpha). One program is made per combination. Stage i samples s<i> at coordinate set i; the
// current colour starts as the vertex colour.
in vec4 vColor;
in vec2 vTex[TEXSETS];

uniform sampler2D s0;
uniform sampler2D s1;
uniform sampler2D s2;
uniform sampler2D s3;
uniform sampler2D s4;
uniform sampler2D s5;
uniform sampler2D s6;
uniform sampler2D s7;

out vec4 fragColor;

vec4 Stage(vec4 current, vec4 texel, int colorOp, int alphaOp) {
    vec3 rgb = colorOp == 1 ? texel.rgb * current.rgb : texel.rgb;
    float a = alphaOp == 0 ? texel.a : (alphaOp == 1 ? texel.a * current.a : current.a);
    return vec4(rgb, a);
}

void main() {
    vec4 current = vColor;
#if STAGES > 0
    current = Stage(current, texture(s0, vTex[0]), OPC0, OPA0);
#endif
#if STAGES > 1
    current = Stage(current, texture(s1, vTex[1]), OPC1, OPA1);
#endif
#if STAGES > 2
    current = Stage(current, texture(s2, vTex[2]), OPC2, OPA2);
#endif
#if STAGES > 3
    current = Stage(current, texture(s3, vTex[3]), OPC3, OPA3);
#endif
#if STAGES > 4
    current = Stage(current, texture(s4, vTex[4]), OPC4, OPA4);
#endif
#if STAGES > 5
    current = Stage(current, texture(s5, vTex[5]), OPC5, OPA5);
#endif
#if STAGES > 6
    current = Stage(current, texture(s6, vTex[6]), OPC6, OPA6);
#endif
#if STAGES > 7
    current = Stage(current, texture(s7, vTex[7]), OPC7, OPA7);
#endif
    fragColor = current;
}
