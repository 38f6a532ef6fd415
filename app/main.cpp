// Program entry: the command line and the requested show state are ignored.
#include "app/shell.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) { return RunMorvane(instance); }
