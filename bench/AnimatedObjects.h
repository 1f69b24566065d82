// The animated objects both object benchmarks evaluate: 200 objects of four key points each, every
// third one with two modifiers, frames of 1/60 s over a 10 s slide.
#pragma once

#include <string>

namespace kiv::bench {

inline constexpr int kObjects = 200;
inline constexpr double kSlideLength = 10000.0;
inline constexpr double kFrame = 1000.0 / 60.0;

inline std::string KeyPoint(int object, int key, bool withModifiers) {
    const int v = object * 7 + key * 13;
    std::string text = "object k:KeyPoint\nTime=" + std::to_string(key * 3000) +
                       "\nOpacity=" + std::to_string(v % 100) + "\nPosition=" + std::to_string(v % 50) + "," +
                       std::to_string(v % 30) + "\nZPos=" + std::to_string(v % 10) +
                       "\nScaleX=" + std::to_string(80 + v % 40) + "\nScaleY=" + std::to_string(90 + v % 20) +
                       "\nAngle=" + std::to_string(v % 360) + "\nAngleX=" + std::to_string(v % 20) +
                       "\nAngleY=" + std::to_string(v % 25) + "\nCenterPos=" + std::to_string(v % 10) + "," +
                       std::to_string(v % 9) + "\nBlur=" + std::to_string(v % 3) +
                       "\nZoom=" + std::to_string(100 + v % 100) + "\nOffsX=" + std::to_string(v % 17) +
                       "\nOffsY=" + std::to_string(v % 19) + "\n";
    if (withModifiers) {
        text += "object m:Mod\nid=e" + std::to_string(object) + "_" + std::to_string(key) +
                "\ndst=Pos.T\nfn=QSplineGraph(T, 0.42, 0, 0.58, 1)\nend\n";
        text += "object m:Mod\nid=v" + std::to_string(object) + "_" + std::to_string(key) +
                "\ndst=Angle\nfn=value + Sin(Angle.T * Pi) * amp\namp=15\nend\n";
    }
    return text + "end\n";
}

} // namespace kiv::bench
