// Video colour conversion and grading in one look-up. s0, s1, s2 the Y, U and V planes (coordinate
// sets 0, 1 and 2); s3, s4 volume tables indexed (V, U, Y); c[0].x = t blends between them.
uniform sampler2D s0;
uniform sampler2D s1;
uniform sampler2D s2;
uniform sampler3D s3;
uniform sampler3D s4;

vec3 Cell(vec3 x) { return x * 0.96875 + 0.015625; }

void main() {
    float y = texture(s0, vTex[0]).r;
    float u = texture(s1, vTex[1]).r;
    float v = texture(s2, vTex[2]).r;
    vec3 p = Cell(vec3(v, u, y));
    float t = c[0].x;
    fragColor = vec4((1.0 - t) * texture(s3, p).rgb + t * texture(s4, p).rgb, vColor.a);
}
