// kivviewer: the player's program entry.
#include "app/StartUp.h"

int main(int argc, char** argv) {
    return kiv::RunPlayer(argc, argv);
}
