// Product of two pictures, un-premultiplied: x = s0 × s1; colour x.rgb / x.a (0 where x.a is 0);
// alpha x.a times the vertex alpha.
uniform sampler2D s0;
uniform sampler2D s1;

void main() {
    vec4 x = texture(s0, vTex[0]) * texture(s1, vTex[1]);
    vec3 rgb = x.a > 0.0 ? x.rgb / x.a : vec3(0.0);
    fragColor = vec4(rgb, x.a * vColor.a);
}
