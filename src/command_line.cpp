#include "command_line.hpp"

#include <cstdio>
#include <cstring>

#ifndef ZURAZE_HOMEPAGE_URL
#error "ZURAZE_HOMEPAGE_URL names the project's web address; the build defines it"
#endif

bool help_requested(int argc, char **argv)
{
    // Element 0 is looked at too: the browsers put the host's own path there,
    // which never begins with '-'.
    for (int i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (arg[0] != '-')
            continue;
        if (strlen(arg) == 2) {
            if (arg[1] == '-')
                return false;
            if (arg[1] == 'h')
                return true;
        }
        if (strcmp(arg, "--help") == 0)
            return true;
    }
    return false;
}

void print_help()
{
    printf("Native Messaging Host for the Zuraze Browser Extension <%s>\n", ZURAZE_HOMEPAGE_URL);
}
