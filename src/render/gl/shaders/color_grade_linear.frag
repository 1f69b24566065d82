// Grading through per-channel tables (256 × 16, the ramp along x). s0 the picture; s1, s2 the
// tables; c[0].x = t blends between them; each channel looks up its own table channel.
uniform sampler2D s0;
uniform sampler2D s1;
uniform sampler2D s2;

vec3 Cell256(vec3 x) { return x * 0.996094 + 0.00195312; }

void main() {
    vec4 col = texture(s0, vTex[0]) * vColor;
    vec3 p = Cell256(clamp(col.rgb, 0.0, 1.0));
    float t = c[0].x;
    float r = (1.0 - t) * texture(s1, vec2(p.r, 0.5)).r + t * texture(s2, vec2(p.r, 0.5)).r;
    float g = (1.0 - t) * texture(s1, vec2(p.g, 0.5)).g + t * texture(s2, vec2(p.g, 0.5)).g;
    float b = (1.0 - t) * texture(s1, vec2(p.b, 0.5)).b + t * texture(s2, vec2(p.b, 0.5)).b;
    fragColor = vec4(r, g, b, col.a * vColor.a);
}
