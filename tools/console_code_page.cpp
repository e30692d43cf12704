// Prints the output code page of the console it runs in: tools/wine_test runs it
// before and after tarnic.exe in one console, which must get its code page back.

#include <windows.h>

#include <cstdio>

int main() { std::printf("console output code page %u\n", GetConsoleOutputCP()); }
