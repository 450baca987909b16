#include <regex.h>

#include <string>

// Loses memory of ours on purpose, so that the sanitizer build shows that a
// leak of our code is still reported, under the suppressions as they stand,
// with a stack that names the function that lost it.
__attribute__((noinline)) static void leakOnPurpose()
{
    new std::string(64, 'x');
    // The C library keeps no frame pointers: only a stack walked from the
    // debug information follows this one up to us.
    regex_t pattern;
    regcomp(&pattern, "a(b|c)*d[0-9]+", REG_EXTENDED);
}

int main()
{
    leakOnPurpose();
    return 0;
}
