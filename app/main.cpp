// The program: creates the application and its three windows and shows the main window.
#include "app/program.h"

int main(int argc, char** argv) { return RunProgram(argc, argv); }
