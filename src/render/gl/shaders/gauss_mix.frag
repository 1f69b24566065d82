// Cross-fade between the sharp picture (s0) and its half-resolution copy (s1) by c[0].x.
uniform sampler2D s0;
uniform sampler2D s1;

void main() {
    float a = c[0].x;
    fragColor = (1.0 - a) * texture(s0, vTex[0]) + a * texture(s1, vTex[1]);
}
