// On Windows the C runtime opens standard input and output in text mode, which turns every
// "\n" written into "\r\n", drops "\r" before "\n" on reading and ends input at a Ctrl-Z byte.
// Marl documents are bytes and their values may hold any of these, so marl switches both
// streams to binary mode before main runs: what it reads and prints is exactly the bytes.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace {

struct BinaryStandardStreams {
    BinaryStandardStreams() {
        _setmode(_fileno(stdin), _O_BINARY);
        _setmode(_fileno(stdout), _O_BINARY);
    }
};

const BinaryStandardStreams binaryStandardStreams;

}  // namespace
