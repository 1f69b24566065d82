// A luma plane as a grey mask. s0 the Y plane; c[0].x = 1 inverts. Video range 16 … 235 is
// stretched to 0 … 1; the value is the colour and, times the vertex alpha, the alpha.
uniform sampler2D s0;

void main() {
    float y = (texture(s0, vTex[0]).r - 0.0625) * 1.16438;
    float value = c[0].x > 0.5 ? 1.0 - y : y;
    fragColor = vec4(value, value, value, value * vColor.a);
}
