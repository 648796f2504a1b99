#include "hexconvert.h"

void hexToBin(const QString &path)
{
    Q_UNUSED(path);
}
