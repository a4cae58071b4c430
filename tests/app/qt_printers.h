#pragma once
// Readable Qt values in test failure messages.

#include <QString>
#include <ostream>

inline void PrintTo(const QString& aText, std::ostream* aOut)
{
    *aOut << '"' << aText.toStdString() << '"';
}
