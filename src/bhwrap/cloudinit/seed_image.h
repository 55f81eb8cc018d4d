// The config-drive seed image of a VM: an ISO 9660 image "seed.iso" (volume
// label "config-2") of the tree under "cloud-base" in the VM directory, which
// bhyve attaches as a read-only CD.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* kGenisoimageProgram = "/usr/local/bin/genisoimage";

// The argument vector of the ISO tool for the VM directory `vm_dir` (a path as
// this process opens it); the first element is the program. A directory that
// begins with "-" is given as "./<dir>" so that the tool never reads it as an
// option.
std::vector<std::string> seed_image_args(const std::string& vm_dir);

// Builds "<vm_dir>/seed.iso" from "<vm_dir>/cloud-base" with the ISO tool,
// started directly (no shell sees the paths). True when the tool ran and
// exited with 0.
bool build_seed_image(const std::string& vm_dir);
