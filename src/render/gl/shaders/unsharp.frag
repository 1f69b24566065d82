// Unsharp masking. s0 the picture; c[0].xy one texel (1/TW, 1/TH); c[1].x the threshold T; c[2].x
// the amount A. B is a 3 × 3 binomial blur of the centre C; each colour channel whose difference
// D = C − B reaches T becomes C + A·D. Alpha stays the centre's.
uniform sampler2D s0;

void main() {
    vec2 uv = vTex[0];
    vec2 t = c[0].xy;
    vec4 centre = texture(s0, uv);
    vec4 sides = texture(s0, uv + vec2(-t.x, 0.0)) + texture(s0, uv + vec2(t.x, 0.0)) +
                 texture(s0, uv + vec2(0.0, -t.y)) + texture(s0, uv + vec2(0.0, t.y));
    vec4 corners = texture(s0, uv + vec2(-t.x, -t.y)) + texture(s0, uv + vec2(t.x, -t.y)) +
                   texture(s0, uv + vec2(-t.x, t.y)) + texture(s0, uv + vec2(t.x, t.y));
    vec4 blurred = (4.0 * centre + 2.0 * sides + corners) / 16.0;
    vec3 d = centre.rgb - blurred.rgb;
    vec3 sharp = centre.rgb + c[2].x * d;
    vec3 keep = step(vec3(c[1].x), abs(d));
    fragColor = vec4(mix(centre.rgb, sharp, keep), centre.a);
}
