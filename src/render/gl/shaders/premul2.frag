// s0 times the un-premultiplied s1 (its colour divided by its alpha, 0 where the alpha is 0); alpha
// times the vertex alpha.
uniform sampler2D s0;
uniform sampler2D s1;

void main() {
    vec4 y = texture(s1, vTex[1]);
    y.rgb = y.a > 0.0 ? y.rgb / y.a : vec3(0.0);
    vec4 x = texture(s0, vTex[0]) * y;
    fragColor = vec4(x.rgb, x.a * vColor.a);
}
