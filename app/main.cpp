// zephra [GAME] [ARGS...]: runs the game in GAME (a game folder or a standalone game).
int ZephraMain(int argc, char** argv);

int main(int argc, char** argv) { return ZephraMain(argc, argv); }
