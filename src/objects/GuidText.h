// New identity texts for project objects that lack one ("{8-4-4-4-12}" upper-case hexadecimal,
// version-4 random). Any thread. The one generator is the package layer's (temporary folders use
// it too): two definitions of it cannot be linked into one program.
#pragma once

#include "package/TempFolders.h"
