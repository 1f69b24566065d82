// Grading through two 32³ volume tables. s0 the picture; s1, s2 the tables; c[0].x = t blends from
// the first table's colour to the second's.
uniform sampler2D s0;
uniform sampler3D s1;
uniform sampler3D s2;

vec3 Cell(vec3 x) { return x * 0.96875 + 0.015625; }

void main() {
    vec4 col = texture(s0, vTex[0]) * vColor;
    vec3 p = Cell(clamp(col.rgb, 0.0, 1.0));
    float t = c[0].x;
    vec3 graded = (1.0 - t) * texture(s1, p).rgb + t * texture(s2, p).rgb;
    fragColor = vec4(graded, col.a);
}
