#include "hostlib/host_library.h"

#include <utility>

HostLibrary::HostLibrary(std::string name, const std::string& path)
    : library_(path), name_(std::move(name)), path_(path) {}
