// On Windows the C runtime opens standard output in text mode, which turns every "\n" written
// into "\r\n". Marl documents are bytes and their values may hold any byte, so marl switches
// standard output to binary mode before main runs: what it prints is exactly the bytes.
// (Standard input is switched where it is read.)
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace {

struct BinaryStandardOutput {
    BinaryStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }
};

const BinaryStandardOutput binaryStandardOutput;

}  // namespace
