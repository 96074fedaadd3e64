/* Stand-in for the desktop-side connection helper, carried by releases built
   without the real helper programs. It changes nothing and says so. */
#include <stdio.h>

int main(int argc, char** argv) {
    int i;
    printf("Flashwise stand-in for wcestest.exe: the desktop connection switch is not part of this build.\n");
    for (i = 1; i < argc; ++i) {
        printf("argument %d: %s\n", i, argv[i]);
    }
    return 0;
}
