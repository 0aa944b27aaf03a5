// image_compare.h - two board images compared register by register, or a device with an image.
#ifndef DUZE_IMAGE_COMPARE_H
#define DUZE_IMAGE_COMPARE_H

#include <string>

// Each 32-bit register that differs between image strBefore and image strAfter (configuration space,
// then each memory BAR saved in both), named with its changed fields where the run's maps have it;
// text, or JSON Lines as the report was chosen. The status as cmp gives it: 0 equal, 1 different, 2 bad input.
int CompareBoardImages(const std::string &strBefore, const std::string &strAfter);

#endif
