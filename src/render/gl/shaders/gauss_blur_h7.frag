// One horizontal seven-tap Gaussian pass. c[0] = (w3, w2, w1, w0), the outer to the centre weight;
// c[1].x the step between taps in texture coordinates. Coordinates are clamped to the texture.
uniform sampler2D s0;

vec4 Tap(vec2 uv) { return texture(s0, clamp(uv, 0.0, 1.0)); }

void main() {
    vec2 uv = vTex[0];
    vec2 d = vec2(c[1].x, 0.0);
    fragColor = c[0].w * Tap(uv) + c[0].z * (Tap(uv - d) + Tap(uv + d)) +
                c[0].y * (Tap(uv - 2.0 * d) + Tap(uv + 2.0 * d)) +
                c[0].x * (Tap(uv - 3.0 * d) + Tap(uv + 3.0 * d));
}
