// One public header, included twice in one unit (its guard must hold), in a host built with
// the warnings of a strict project; compiled, never run.
#include MARLLIB_HEADER
#include MARLLIB_HEADER

int main() { return 0; }
