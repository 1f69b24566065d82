// Masked content. s0 the mask, s1 the premultiplied content. The mask's coverage is the largest of
// its channels; a grey mask (equal channels, g = 1) leaves the content's colour alone, a coloured
// one tints it. The content is un-premultiplied (0 where its alpha is 0) and its alpha scaled by the
// coverage and the vertex alpha.
uniform sampler2D s0;
uniform sampler2D s1;

void main() {
    vec4 m = texture(s0, vTex[0]);
    vec4 content = texture(s1, vTex[1]);
    float g = (1.0 - abs(m.r - m.g)) * (1.0 - abs(m.g - m.b)) * (1.0 - abs(m.b - m.r));
    vec3 tint = g + (1.0 - g) * m.rgb;
    vec3 rgb = content.a > 0.0 ? content.rgb * tint / content.a : vec3(0.0);
    fragColor = vec4(rgb, content.a * max(m.r, max(m.g, m.b)) * vColor.a);
}
