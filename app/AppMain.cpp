#include "TalvenorLive.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return runTalvenorLive(instance, commandLine);
}
