// The exported interface classes carry no data: their special members only
// install the class's own table, and are out of line so that the library
// exports them and owns their virtual tables.

#include "Formgate.h"

CAbstractReadWA::CAbstractReadWA() = default;
CAbstractReadWA::CAbstractReadWA(const CAbstractReadWA&) = default;
CAbstractReadWA& CAbstractReadWA::operator=(const CAbstractReadWA&) {
    return *this;
}
CAbstractReadWA::~CAbstractReadWA() = default;

CAbstractWriteWA::CAbstractWriteWA() = default;
CAbstractWriteWA::CAbstractWriteWA(const CAbstractWriteWA&) = default;
CAbstractWriteWA& CAbstractWriteWA::operator=(const CAbstractWriteWA&) {
    return *this;
}
CAbstractWriteWA::~CAbstractWriteWA() = default;

CProgress::CProgress() = default;
CProgress::CProgress(const CProgress&) = default;
CProgress& CProgress::operator=(const CProgress&) {
    return *this;
}
CProgress::~CProgress() = default;
