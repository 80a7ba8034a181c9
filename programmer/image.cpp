// Placeholder until the memory operations land.
#include "image.h"

uint8_t load_image[IMAGE_SIZE];
uint8_t readback_image[IMAGE_SIZE];
