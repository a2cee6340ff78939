// zephra [GAME] [ARGS...]: runs the game in GAME (a game folder or a standalone game).
#include "shell/startup.h"

int main(int argc, char** argv) { return WinMain(argc, argv); }
