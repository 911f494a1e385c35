#pragma once

// Scans argv from element 0 to the first "--": true when "-h" or "--help"
// comes first. Every other element is ignored.
bool help_requested(int argc, char **argv);

// Prints the one-line description with the project's web address on standard
// output.
void print_help();
