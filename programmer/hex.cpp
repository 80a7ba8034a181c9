// Placeholder until the HEX reader and writer land.
#include "hex.h"

std::FILE* download_stream = nullptr;
