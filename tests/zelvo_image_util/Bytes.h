#pragma once

#include <QByteArray>

#include <initializer_list>

// Bytes given as numbers, so that a test spells out a frame byte by byte.
inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result += char(value);
    return result;
}
