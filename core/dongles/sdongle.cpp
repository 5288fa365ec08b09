#include "sdongle.h"

#include <cstring>

namespace Dongles {

void SDongle::copyText(char *field, std::size_t width, const char *text)
{
    std::memset(field, 0, width);
    if (text && width > 0)
        std::strncpy(field, text, width - 1);
}

bool SDongle::operator==(const SDongle &other) const
{
    return std::strncmp(description, other.description, sizeof(description)) == 0;
}

} // namespace Dongles
