#pragma once
// Marks what libformgate.so exports; everything else in the library is hidden.

#define FORMGATE_API __attribute__((visibility("default")))
