// Where the tests find the repository's files and the build's products.
#pragma once
#include <string>

std::string sourcePath(const std::string& relative);  // below the repository root
std::string binaryPath(const std::string& relative);  // below the build directory
std::string scratchPath(const std::string& name);     // a fresh file name for one test
std::string pluginPath();                             // the built plug-in library
