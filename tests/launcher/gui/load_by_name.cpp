// The control of the GUI test's planted DLL: loads a DLL by its bare name with the system's default
// search, as a program does that restricts nothing. It imports nothing but KERNEL32, so the name is
// not loaded already when it asks. Exit code 0 when the DLL loaded, 1 when not.
#include <windows.h>

int main(int argc, char** argv) { return argc == 2 && LoadLibraryA(argv[1]) != nullptr ? 0 : 1; }
