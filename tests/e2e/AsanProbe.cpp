// A program built with AddressSanitizer that shows the preload list it was started with:
// its runtime only starts when it comes first.

#include <cstdio>
#include <cstdlib>

int main() {
    const char* preload = getenv("LD_PRELOAD");
    printf("%s\n", preload != nullptr ? preload : "");
    return 0;
}
