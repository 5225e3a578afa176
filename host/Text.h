#pragma once

#include <string>

// The plug-in's texts are code page 932; terminals want UTF-8.
std::string SjisToUtf8(const std::string &sjis);
