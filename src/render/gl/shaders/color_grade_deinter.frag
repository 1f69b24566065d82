// Video conversion with one field only: luma is rebuilt from the lines of one field. c[1] = (TH,
// 1/TH) of the Y plane; c[2].xy = (0, 0) for the even field, (1, −1) for the odd field. Otherwise
// as color_grade_video.
uniform sampler2D s0;
uniform sampler2D s1;
uniform sampler2D s2;
uniform sampler3D s3;
uniform sampler3D s4;

vec3 Cell(vec3 x) { return x * 0.96875 + 0.015625; }

float FieldLuma(vec2 uv) {
    float y = uv.y * c[1].x + c[2].y;
    float k = floor(y / 2.0);
    float w = (y - 2.0 * k - 0.5) / 2.0;
    float upper = texture(s0, vec2(uv.x, (2.0 * k + 0.5 + c[2].x) * c[1].y)).r;
    float lower = texture(s0, vec2(uv.x, (2.0 * k + 2.5 + c[2].x) * c[1].y)).r;
    return (1.0 - w) * upper + w * lower;
}

void main() {
    float y = FieldLuma(vTex[0]);
    float u = texture(s1, vTex[1]).r;
    float v = texture(s2, vTex[2]).r;
    vec3 p = Cell(vec3(v, u, y));
    float t = c[0].x;
    fragColor = vec4((1.0 - t) * texture(s3, p).rgb + t * texture(s4, p).rgb, vColor.a);
}
