// How kivtool reaches the files of a show given as SHOW: a package file or a self-contained
// executable gives an accessor over the package's entries (looked up by escaped name, without
// regard to case); any other existing file is a project file on disk, whose pictures are disk
// files found against the project's folder.
#pragma once

#include "package/FileAccessor.h"

#include <string>

namespace kivtool {

// The accessor of SHOW, or null with `error` set (the show is missing, or a damaged package).
kiv::TRef<kiv::TFileAccessor> OpenShowFiles(const std::string& show, std::string& error);

} // namespace kivtool
