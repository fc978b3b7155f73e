#include "platform/text.h"

bool copyField(char* field, std::size_t width, const char* source) {
    if (width == 0)
        return source[0] == '\0';
    std::size_t i = 0;
    for (; source[i] != '\0' && i + 1 < width; ++i)
        field[i] = source[i];
    field[i] = '\0';
    return source[i] == '\0';
}
