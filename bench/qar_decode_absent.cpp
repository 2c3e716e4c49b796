// Stand-in for builds whose core cannot decode yet: the benchmark prints "n/a" for qar.
#include "bench/qar_decode.h"

bool QarDecodeLinked() { return false; }

QarDecodeResult DecodeQarArchive(const char*, const char*) { return {-1, 0, 0, 0, 0}; }
