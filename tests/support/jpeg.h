// Small valid JPEG pictures for the tests of twinsift-view's page.
#pragma once

#include <string>

// A 16 x 12 baseline JPEG (a yellow square on green) that every browser
// decodes, with comment in a COM segment after its start: pictures with
// different comments have different contents and look alike. Can't fail.
std::string TinyJpeg(const std::string &comment);
