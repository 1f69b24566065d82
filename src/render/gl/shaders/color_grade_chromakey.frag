// Video conversion with a chroma key. c[3] = (T, 1/T); c[4].xy = the key's (U, V). A pixel whose
// chroma distance d reaches T keeps the vertex alpha; nearer the key alpha falls as (d/T)².
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
    float d = abs((u - c[4].x) + (v - c[4].y)) / 2.0;
    float k = d * c[3].y;
    float alpha = d >= c[3].x ? vColor.a : vColor.a * k * k;
    fragColor = vec4((1.0 - t) * texture(s3, p).rgb + t * texture(s4, p).rgb, alpha);
}
