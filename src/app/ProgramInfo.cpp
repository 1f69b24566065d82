#include "app/ProgramInfo.h"

#include "app/ShowStart.h"

#ifndef KIV_VERSION_TEXT
#error "the build gives KIV_VERSION_TEXT, the project's version"
#endif

namespace kiv {

const char* ProgramVersion() {
    return KIV_VERSION_TEXT;
}

const char* PlayerSynopsis() {
    return "usage: kivviewer [SHOW] [-exename SHOW | -filename PROJECT] [-slide N | -time MS]\n"
           "                 [-log | -filelog] [-noicc | -icc [auto|sRGB|AdobeRGB|FunkyRGB|FILE]] [-cover]\n"
           "                 [-resize] [-display N | -desktopalign] [-fullscreen | -window] [-startup]\n"
           "                 [-info]\n"
           "       kivviewer SHOW -render DIR|OUT.mp4|OUT.mkv|OUT.webm [-size WxH] [-fps N] [-from MS]\n"
           "                 [-to MS] [-crf N]\n"
           "       kivviewer --help | --version\n";
}

bool NoShowNamed(const TCommandLine& commandLine) {
    return !commandLine.HasSwitch("filename") && !commandLine.HasSwitch("exename") &&
           !PlainShowName(commandLine);
}

} // namespace kiv
