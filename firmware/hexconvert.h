#ifndef HEXCONVERT_H
#define HEXCONVERT_H

#include <QString>

// Intel HEX to the raw flash image.
void hexToBin(const QString &path);

#endif // HEXCONVERT_H
