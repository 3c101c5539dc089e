// standard: small text-file helpers on C stdio streams.
// Owns line reading that accepts CR, LF and CR LF alike; the settings reader is its only caller.
#pragma once
#include <cstdio>

// Reads one line into buf, keeping its line end (CR or LF); at most size - 1 characters are
// stored, a longer line comes back in pieces. Returns buf, or null at end of file, on a read
// error, or when size < 1. A CR LF pair reads as two lines: "...\r" and "\n".
char* better_fgets(char* buf, int size, FILE* stream);

// value written with "%i" into a new char[20]; the caller releases it with delete[].
char* int_to_char(int value);

// Size of the stream's file in bytes; leaves the stream at its beginning.
long fsize(FILE* stream);
